// The main window and its dialogs in this process: the window runs modally on
// a thread of its own, opened by a stand-in tray window on that thread that
// counts what the main window sends it, as on the tray window's thread. The
// test thread drives it as a user would, with posted clicks and typed text,
// and reads the controls, the menu's check marks, the registry and the list
// file.
#include <windows.h>
#include <commctrl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cwchar>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/globals.h"
#include "config/process_list.h"
#include "config/settings_names.h"
#include "monitor/graph_state.h"
#include "platform/detached_thread.h"
#include "platform/gdi_scope.h"
#include "res/resource.h"
#include "tests/fakes/fake_dark_mode_api.h"
#include "tests/support/scratch_registry.h"
#include "tests/unit/canvas.h"
#include "tests/unit/stand_in_tray.h"
#include "ui/dark_painters.h"
#include "ui/list_box_text.h"
#include "ui/main_window.h"
#include "ui/messages.h"
#include "ui/theme.h"
#include "update/version.h"

namespace tarnwick {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

// As generous as the end-to-end driver's: the first window of a new Wine
// prefix has taken over 10 s to show beside another test program.
constexpr auto kDeadline = 20s;

std::atomic<int> ListChangedCount{0};
std::atomic<int> StartWorkerCount{0};
std::atomic<int> OpeningsEnded{0};

LRESULT CALLBACK StandInTrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WMU_LIST_CHANGED) ++ListChangedCount;
  if (message == WMU_START_WORKER) ++StartWorkerCount;
  if (message == WMU_OPEN_MAIN_WINDOW) {
    OpenMainWindow(ProgramMainWindowLinks());
    ++OpeningsEnded;
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

HWND WaitFor(const std::function<HWND()>& found) { return testing_support::WaitForWindow(found, kDeadline); }

bool WaitUntil(const std::function<bool()>& condition) {
  return WaitFor([&]() -> HWND { return condition() ? HWND_BOTTOM : nullptr; }) != nullptr;
}

std::atomic<DWORD> WindowThreadId{0};

// Every opening of every test runs on the stand-in's thread (tests/unit/stand_in_tray.h).
HWND StandInTray() { return testing_support::StandInTrayWindow(StandInTrayProc, WindowThreadId, kDeadline); }

std::wstring WindowText(HWND window) {
  wchar_t text[2048] = {};
  ::GetWindowTextW(window, text, static_cast<int>(std::size(text)));
  return text;
}

// A visible dialog of `thread` with this caption, other than `except`.
HWND FindDialog(DWORD thread, const wchar_t* caption, HWND except = nullptr) {
  struct Search {
    const wchar_t* caption;
    HWND except;
    HWND found;
  } search{caption, except, nullptr};
  ::EnumThreadWindows(
      thread,
      [](HWND window, LPARAM parameter) noexcept -> BOOL {
        auto* s = reinterpret_cast<Search*>(parameter);
        wchar_t className[32] = {};
        ::GetClassNameW(window, className, 32);
        if (window != s->except && ::IsWindowVisible(window) && std::wstring(className) == L"#32770" &&
            WindowText(window) == s->caption) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Every static text of a dialog, such as the message of a message box.
std::vector<std::wstring> StaticTexts(HWND dialog) {
  std::vector<std::wstring> texts;
  ::EnumChildWindows(
      dialog,
      [](HWND child, LPARAM parameter) noexcept -> BOOL {
        wchar_t className[32] = {};
        ::GetClassNameW(child, className, 32);
        if (CompareStringOrdinal(className, -1, L"Static", -1, TRUE) == CSTR_EQUAL) {
          reinterpret_cast<std::vector<std::wstring>*>(parameter)->push_back(WindowText(child));
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&texts));
  return texts;
}

void Click(HWND dialog, int button) { ::PostMessageW(::GetDlgItem(dialog, button), BM_CLICK, 0, 0); }

std::vector<std::wstring> ReadListFile() {
  std::vector<std::wstring> entries;
  LoadProcessList(ListFilePath, entries);
  return entries;
}

std::string FileBytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The last write of the list file, to tell whether a flow rewrote it.
FILETIME LastWrite(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

bool SameTime(FILETIME a, FILETIME b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

class MainWindowTest : public ::testing::Test {
 protected:
  // "Include Betas" writes the machine setting too.
  testing_support::ScopedScratchLocalMachine scratchMachine_;
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnwick");
    ListChangedCount = 0;
    StartWorkerCount = 0;
    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    ListFilePath = std::wstring(folder) + L"tarnwick-main-window-test.txt";
    ::DeleteFileW(ListFilePath.c_str());
  }

  void TearDown() override {
    if (OpeningsEnded != openingsAsked_) {
      if (HWND window = MainWindowHandle.load()) ::PostMessageW(window, WM_CLOSE, 0, 0);
      EXPECT_TRUE(WaitUntil([&] { return OpeningsEnded == openingsAsked_; })) << "the main window stayed open";
    }
    ::DeleteFileW(ListFilePath.c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnwick");
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Tarnwick");
  }

  void WriteListFile(const std::vector<std::wstring>& entries) {
    ASSERT_EQ(SaveProcessList(ListFilePath, entries), static_cast<int32_t>(entries.size()));
  }

  // Asks the stand-in tray window to open the main window, as the user would
  // from the tray, and waits until it shows.
  HWND Open() {
    HWND tray = StandInTray();
    EXPECT_NE(tray, nullptr) << "no stand-in tray window";
    if (tray == nullptr) return nullptr;
    uiThread_ = WindowThreadId;
    openingsAsked_ = OpeningsEnded + 1;
    ::PostMessageW(tray, WMU_OPEN_MAIN_WINDOW, 0, 0);
    HWND window = WaitFor([&] { return FindDialog(uiThread_, L"Tarnwick"); });
    EXPECT_NE(window, nullptr) << "the main window did not show";
    EXPECT_EQ(MainWindowHandle.load(), window);
    return window;
  }

  void WaitClosed() {
    EXPECT_TRUE(WaitUntil([&] { return OpeningsEnded == openingsAsked_; })) << "the main window did not close";
    EXPECT_EQ(MainWindowHandle.load(), nullptr);
  }

  HWND WaitForAddDialog() {
    HWND dialog = WaitFor([&] { return FindDialog(uiThread_, L"Add New Entry"); });
    EXPECT_NE(dialog, nullptr) << "the Add New Entry dialog did not show";
    return dialog;
  }

  // The add flow as typed: opens from "Add" unless a double-click opened it.
  void TypeAndConfirm(HWND main, const std::wstring& text, bool openWithAdd = true, int button = IDOK) {
    if (openWithAdd) Click(main, IDC_ADD);
    HWND dialog = WaitForAddDialog();
    ASSERT_NE(dialog, nullptr);
    ::SendDlgItemMessageW(dialog, IDC_ENTRY_EDIT, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    Click(dialog, button);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }));
  }

  void DoubleClickEntry(HWND main, const std::wstring& entry) {
    HWND list = ::GetDlgItem(main, IDC_PROCESS_LIST);
    const std::vector<std::wstring> listed = ReadListBoxEntries(list);
    const auto found = std::find(listed.begin(), listed.end(), entry);
    ASSERT_NE(found, listed.end()) << "not listed";
    ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(found - listed.begin()), 0);
    ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_PROCESS_LIST, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
  }

  // Waits for the duplicate message, checks its text and dismisses it.
  void DismissDuplicateMessage(HWND main) {
    HWND box = WaitFor([&] { return FindDialog(uiThread_, L"Tarnwick", main); });
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_THAT(StaticTexts(box), testing::Contains(L"ERROR: Item already in list"));
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }));
  }

  // Waits until the list box has settled on `expected` after a flow.
  std::vector<std::wstring> ListBoxOnceSettled(HWND main, size_t expectedCount) {
    HWND list = ::GetDlgItem(main, IDC_PROCESS_LIST);
    WaitUntil([&] {
      return ::SendMessageW(list, LB_GETCOUNT, 0, 0) == static_cast<LRESULT>(expectedCount) &&
             FindDialog(uiThread_, L"Add New Entry") == nullptr;
    });
    return ReadListBoxEntries(list);
  }

  // Opens the window and checks its count label and status bar.
  void CheckCountLabelAndStatusBar();

  DWORD uiThread_ = 0;
  int openingsAsked_ = OpeningsEnded;
};

TEST_F(MainWindowTest, EditConfirmedEmptyOrAsADuplicatePutsTheFormerEntryBack) {
  WriteListFile({L"notepad.exe", L"calc.exe"});
  const FILETIME written = LastWrite(ListFilePath);
  HWND main = Open();
  ASSERT_NE(main, nullptr);

  DoubleClickEntry(main, L"notepad.exe");
  HWND dialog = WaitForAddDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(WindowText(::GetDlgItem(dialog, IDC_ENTRY_EDIT)), L"notepad.exe") << "the edit starts from the entry";
  ::SendDlgItemMessageW(dialog, IDC_ENTRY_EDIT, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
  Click(dialog, IDOK);
  EXPECT_THAT(ListBoxOnceSettled(main, 2), ElementsAre(L"calc.exe", L"notepad.exe"));

  DoubleClickEntry(main, L"notepad.exe");
  TypeAndConfirm(main, L"CALC.EXE", /*openWithAdd=*/false);
  DismissDuplicateMessage(main);
  EXPECT_THAT(ListBoxOnceSettled(main, 2), ElementsAre(L"calc.exe", L"notepad.exe"));

  DoubleClickEntry(main, L"calc.exe");
  TypeAndConfirm(main, L"whatever.exe", /*openWithAdd=*/false, IDCANCEL);
  EXPECT_THAT(ListBoxOnceSettled(main, 2), ElementsAre(L"calc.exe", L"notepad.exe"));

  EXPECT_TRUE(SameTime(LastWrite(ListFilePath), written)) << "no flow above changes the list";
  EXPECT_THAT(ReadListFile(), ElementsAre(L"notepad.exe", L"calc.exe"));
  EXPECT_EQ(ListChangedCount, 0);

  DoubleClickEntry(main, L"calc.exe");
  TypeAndConfirm(main, L"Calc.exe", /*openWithAdd=*/false);
  EXPECT_THAT(ListBoxOnceSettled(main, 2), ElementsAre(L"Calc.exe", L"notepad.exe"));
  EXPECT_THAT(ReadListFile(), ElementsAre(L"Calc.exe", L"notepad.exe")) << "saved in the list box's order";
  EXPECT_EQ(ListChangedCount, 1);

  ::PostMessageW(main, WM_CLOSE, 0, 0);
  WaitClosed();
  EXPECT_EQ(StartWorkerCount, 0) << "the close box leaves the worker alone";
}

// The Running processes window opens from the status bar's matched part, the
// count label and the File menu, one at a time, and adds what it selects
// through the add flow: a duplicate refused with its message, the rest saved
// once and announced once; it goes with the main window.
TEST_F(MainWindowTest, RunningProcessesOpensFromThreePlacesAndAddsThroughTheAddFlow) {
  WriteListFile({L"calc.exe"});
  Worker.results.BeginPass();
  for (const auto& [id, name] : {std::pair<DWORD, const wchar_t*>{42, L"CALC.EXE"}, {43, L"notepad.exe"}}) {
    ProcessResult& row = Worker.results.NextRow();
    row.processId = id;
    row.fileName = name;
  }
  Worker.results.Publish(2, 0);
  HWND main = Open();
  ASSERT_NE(main, nullptr);
  auto processesWindows = [&] {
    std::vector<HWND> found;
    ::EnumThreadWindows(
        uiThread_,
        [](HWND window, LPARAM parameter) noexcept -> BOOL {
          if (WindowText(window) == L"Running Processes" && ::IsWindowVisible(window)) {
            reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
  };

  NMMOUSE click = {};
  click.hdr = {::GetDlgItem(main, IDC_STATUS_BAR), IDC_STATUS_BAR, static_cast<UINT>(NM_DBLCLK)};
  click.dwItemSpec = 2;  // the E-core usage part
  ::SendMessageW(main, WM_NOTIFY, IDC_STATUS_BAR, reinterpret_cast<LPARAM>(&click));
  EXPECT_THAT(processesWindows(), IsEmpty());
  click.dwItemSpec = 3;
  ::SendMessageW(main, WM_NOTIFY, IDC_STATUS_BAR, reinterpret_cast<LPARAM>(&click));
  ASSERT_EQ(processesWindows().size(), 1u);
  ::SendMessageW(processesWindows()[0], WM_COMMAND, IDCANCEL, 0);
  ASSERT_THAT(processesWindows(), IsEmpty());

  ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_COUNT_LABEL, STN_DBLCLK),
                 reinterpret_cast<LPARAM>(::GetDlgItem(main, IDC_COUNT_LABEL)));
  ASSERT_TRUE(WaitUntil([&] { return processesWindows().size() == 1; }));
  HWND processes = processesWindows()[0];
  ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDM_RUNNING_PROCESSES, 0), 0);
  ::SendMessageW(main, WM_NULL, 0, 0);
  EXPECT_THAT(processesWindows(), ElementsAre(processes)) << "the menu brings the open window forward";

  HWND view = ::GetDlgItem(processes, IDC_PROCESS_VIEW);
  LVITEMW selected = {};
  selected.stateMask = LVIS_SELECTED;
  selected.state = LVIS_SELECTED;
  ::SendMessageW(view, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&selected));
  // Enter is Add Name: the main window's modal loop hands this window its dialog keys.
  ::PostMessageW(view, WM_KEYDOWN, VK_RETURN, 1);
  HWND box = WaitFor([&] { return FindDialog(uiThread_, L"Tarnwick", main); });
  ASSERT_NE(box, nullptr) << "no duplicate message";
  // The new entry is added; the listed one is named in a box of the Running processes window.
  EXPECT_THAT(StaticTexts(box), testing::Contains(L"CALC.EXE is already in the list."));
  EXPECT_EQ(::GetWindow(box, GW_OWNER), processes);
  ::PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_THAT(ListBoxOnceSettled(main, 2), ElementsAre(L"calc.exe", L"notepad.exe"));
  ASSERT_TRUE(WaitUntil([&] { return ListChangedCount == 1; }));
  EXPECT_THAT(ReadListFile(), ElementsAre(L"calc.exe", L"notepad.exe"));

  // A list file that cannot be saved: the failure is reported and nothing is announced.
  Worker.results.BeginPass();
  Worker.results.NextRow() = ProcessResult{44, L"wordpad.exe", L"", L"", false, {}};
  Worker.results.Publish(1, 0);
  ::SendMessageW(main, WMU_PASS_DONE, 0, 0);
  ASSERT_EQ(::SendMessageW(view, LVM_GETITEMCOUNT, 0, 0), 1);
  ASSERT_TRUE(::SetFileAttributesW(ListFilePath.c_str(), FILE_ATTRIBUTE_READONLY));
  ::SendMessageW(view, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&selected));
  ::PostMessageW(processes, WM_COMMAND, MAKEWPARAM(IDC_ADD_NAME, BN_CLICKED), 0);
  HWND failed = WaitFor([&] { return FindDialog(uiThread_, L"Tarnwick", main); });
  ASSERT_NE(failed, nullptr) << "a failed save is not reported";
  const std::vector<std::wstring> texts = StaticTexts(failed);
  EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](const std::wstring& text) {
    return text.rfind(L"The list could not be saved to:", 0) == 0;
  })) << testing::PrintToString(texts);
  ::PostMessageW(failed, WM_COMMAND, IDOK, 0);
  EXPECT_THAT(ListBoxOnceSettled(main, 2), ElementsAre(L"calc.exe", L"notepad.exe")) << "what the file still holds";
  EXPECT_EQ(ListChangedCount, 1) << "a list that was not saved is not announced";
  ::SetFileAttributesW(ListFilePath.c_str(), FILE_ATTRIBUTE_NORMAL);

  ::PostMessageW(view, WM_KEYDOWN, VK_ESCAPE, 1);
  EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(processes); })) << "Escape closes the window";
  ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDM_RUNNING_PROCESSES, 0), 0);
  ASSERT_TRUE(WaitUntil([&] { return processesWindows().size() == 1; }));
  processes = processesWindows()[0];
  ::PostMessageW(main, WM_CLOSE, 0, 0);
  WaitClosed();
  EXPECT_FALSE(::IsWindow(processes)) << "owned by the main window";
}

TEST_F(MainWindowTest, ADoubleClickNotificationEditsTheSelectionWhicheverIdItCarries) {
  WriteListFile({L"calc.exe"});
  HWND main = Open();
  ASSERT_NE(main, nullptr);
  ::SendDlgItemMessageW(main, IDC_PROCESS_LIST, LB_SETCURSEL, 0, 0);
  // Code 2 beside the id of "OK": the edit starts and the window stays open.
  ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDOK, LBN_DBLCLK), 0);
  HWND dialog = WaitForAddDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(WindowText(::GetDlgItem(dialog, IDC_ENTRY_EDIT)), L"calc.exe");
  Click(dialog, IDCANCEL);
  EXPECT_THAT(ListBoxOnceSettled(main, 1), ElementsAre(L"calc.exe"));
  EXPECT_TRUE(::IsWindow(main));
}

// Twice: a reopened window builds its status bar and fonts anew, and shows
// the status at once although nothing changed since the last opening.
TEST_F(MainWindowTest, CountLabelUsesTheCaptionFontDoubledAndStatusPartsFitTheirTexts) {
  for (int opening = 1; opening <= 2; ++opening) {
    SCOPED_TRACE("opening " + std::to_string(opening));
    CheckCountLabelAndStatusBar();
    if (HasFatalFailure()) return;
    ::PostMessageW(MainWindowHandle.load(), WM_CLOSE, 0, 0);
    WaitClosed();
  }
}

void MainWindowTest::CheckCountLabelAndStatusBar() {
  HWND main = Open();
  ASSERT_NE(main, nullptr);
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  ASSERT_TRUE(::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
  LOGFONTW count = {};
  const auto countFont = reinterpret_cast<HFONT>(::SendDlgItemMessageW(main, IDC_COUNT_LABEL, WM_GETFONT, 0, 0));
  ASSERT_EQ(::GetObjectW(countFont, sizeof(count), &count), static_cast<int>(sizeof(count)));
  EXPECT_EQ(count.lfHeight, metrics.lfCaptionFont.lfHeight * 2);
  EXPECT_EQ(count.lfWeight, metrics.lfCaptionFont.lfWeight * 2);
  EXPECT_EQ(std::wstring(count.lfFaceName), std::wstring(metrics.lfCaptionFont.lfFaceName));
  // No worker runs here and nothing is counted.
  EXPECT_EQ(WindowText(::GetDlgItem(main, IDC_COUNT_LABEL)), L"0 of 0");

  // The first refresh, at the opening, fits each part to its text plus 20
  // pixels; the last part runs to the right border.
  HWND statusBar = ::GetDlgItem(main, IDC_STATUS_BAR);
  int edges[4] = {};
  ASSERT_EQ(::SendMessageW(statusBar, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)), 4);
  HDC dc = ::GetDC(statusBar);
  const HGDIOBJ former = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(statusBar, WM_GETFONT, 0, 0)));
  const wchar_t* const texts[] = {L"STOPPED", L"P-Core usage: 0.00%", L"E-Core usage: 0.00%",
                                  L"Matched processes: 0 of 0"};
  int expected = 0;
  for (int part = 0; part < 4; ++part) {
    wchar_t shown[128] = {};
    ::SendMessageW(statusBar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(shown));
    EXPECT_EQ(std::wstring(shown), texts[part]);
    SIZE extent = {};
    ::GetTextExtentPoint32W(dc, texts[part], static_cast<int>(wcslen(texts[part])), &extent);
    expected += extent.cx + 20;
    EXPECT_EQ(edges[part], part == 3 ? -1 : expected) << "part " << part;
  }
  ::SelectObject(dc, former);
  ::ReleaseDC(statusBar, dc);
}

TEST_F(MainWindowTest, TheGraphCoversThePlaceholderInTheLightPaletteAndGoesWithTheWindow) {
  HWND main = Open();
  ASSERT_NE(main, nullptr);
  HWND graph = ::FindWindowExW(main, nullptr, kGraphWindowClass, nullptr);
  ASSERT_NE(graph, nullptr);
  EXPECT_TRUE(::IsWindowVisible(graph)) << "shown although this system has no dark mode";
  RECT placeholder{}, graphRect{};
  ::GetWindowRect(::GetDlgItem(main, IDC_GRAPH_PLACEHOLDER), &placeholder);
  ::GetWindowRect(graph, &graphRect);
  EXPECT_TRUE(::EqualRect(&placeholder, &graphRect));

  // The start-up palette's colours and the light marker, bitmap 120, 16 x 16, drawn with AND.
  GraphState& state = SharedGraphState();
  const GraphColours expected = GraphColoursFromPalette(ThemePalette);
  EXPECT_EQ(state.colours.bar, expected.bar);
  EXPECT_EQ(state.colours.cellBackground, expected.cellBackground);
  EXPECT_EQ(state.colours.boxBackground, expected.boxBackground);
  EXPECT_NE(state.marker.bitmap, nullptr);
  EXPECT_EQ(state.marker.width, 16);
  EXPECT_EQ(state.marker.height, 16);
  EXPECT_TRUE(state.marker.blendWithAnd);
  {
    unique_hdc dc(::CreateCompatibleDC(nullptr));
    select_object_scope selected(dc.get(), state.marker.bitmap);
    EXPECT_EQ(::GetPixel(dc.get(), 0, 0), RGB(255, 255, 255)) << "the light marker is drawn on white";
  }
  EXPECT_EQ(reinterpret_cast<HBRUSH>(::GetClassLongPtrW(graph, GCLP_HBRBACKGROUND)), state.boxBackgroundBrush.get());

  ::PostMessageW(main, WM_CLOSE, 0, 0);
  WaitClosed();
  EXPECT_TRUE(state.panels.empty()) << "no cell outlives the window";
  EXPECT_EQ(state.sampler, nullptr);
}

// Whether the control paints anything into a blank picture: a list box that
// was left with drawing off paints nothing.
bool PaintsSomething(HWND control) {
  RECT client{};
  ::GetClientRect(control, &client);
  Canvas canvas(client.right, client.bottom);
  ::SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()), PRF_CLIENT);
  for (int y = 0; y < client.bottom; ++y) {
    for (int x = 0; x < client.right; ++x) {
      if (canvas.At(x, y) != canvas.At(0, 0)) return true;
    }
  }
  return false;
}

TEST_F(MainWindowTest, ALargeUnsortedListShowsWholeInTheListBoxOrder) {
  std::vector<std::wstring> entries;
  entries.reserve(3000);
  for (int i = 0; i < 3000; ++i) {
    entries.push_back((i % 3 ? L"Tool" : L"tool") + std::to_wstring((i * 7919) % 3001) + (i % 2 ? L".EXE" : L".exe"));
  }
  entries.push_back(L"tool0.exe");  // listed twice, as a hand-edited file may
  WriteListFile(entries);
  // The order a sorted list box gives them one by one.
  HWND reference = ::CreateWindowExW(0, L"LISTBOX", nullptr, LBS_SORT, 0, 0, 100, 100, nullptr, nullptr,
                                     ::GetModuleHandleW(nullptr), nullptr);
  for (const std::wstring& entry : entries) {
    ::SendMessageW(reference, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  }
  const std::vector<std::wstring> expected = ReadListBoxEntries(reference);
  ::DestroyWindow(reference);

  HWND main = Open();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(ListBoxOnceSettled(main, entries.size()), expected);
  EXPECT_TRUE(PaintsSomething(::GetDlgItem(main, IDC_PROCESS_LIST))) << "drawing is on again";
  Click(main, IDOK);
  WaitClosed();
}

TEST_F(MainWindowTest, ABlankLineShowsAsAnEntryAndTheNextSaveLeavesItOut) {
  WriteListFile({L"b.exe", L"", L"a.exe"});
  HWND main = Open();
  ASSERT_NE(main, nullptr);
  EXPECT_THAT(ListBoxOnceSettled(main, 3), ElementsAre(L"", L"a.exe", L"b.exe"));

  // Editing the blank entry and cancelling keeps it, as the file still holds it.
  DoubleClickEntry(main, L"");
  TypeAndConfirm(main, L"typed.exe", /*openWithAdd=*/false, IDCANCEL);
  EXPECT_THAT(ListBoxOnceSettled(main, 3), ElementsAre(L"", L"a.exe", L"b.exe"));

  // Remove with no selection still saves and announces.
  ::SendDlgItemMessageW(main, IDC_PROCESS_LIST, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  Click(main, IDC_REMOVE);
  ASSERT_TRUE(WaitUntil([] { return ListChangedCount == 1; }));
  EXPECT_THAT(ReadListFile(), ElementsAre(L"a.exe", L"b.exe"));
  EXPECT_EQ(FileBytes(ListFilePath), std::string("a\0.\0e\0x\0e\0\r\0\n\0b\0.\0e\0x\0e\0\r\0\n\0", 28));

  Click(main, IDOK);
  WaitClosed();
  EXPECT_EQ(StartWorkerCount, 1) << "OK restarts the worker";
}

// Whatever list file a user or another tool writes: opened in the window, kept
// through an unrelated edit (a Remove with nothing selected) and read again,
// every entry comes back unaltered.
TEST_F(MainWindowTest, EveryEntryOfAListFileComesBackUnalteredAfterAnUnrelatedEdit) {
  auto bytes = [](std::string_view text) { return std::string(text); };
  auto utf16 = [](std::wstring_view text) {
    std::string out;
    for (wchar_t unit : text) {
      out.push_back(static_cast<char>(unit & 0xFF));
      out.push_back(static_cast<char>(unit >> 8));
    }
    return out;
  };
  const std::wstring longEntry = L"C:\\Games\\" + std::wstring(2000, L'g') + L".exe";
  struct Case {
    const char* what;
    std::string file;
    std::vector<std::wstring> entries;  // as the file holds them, in file order
  };
  const Case cases[] = {
      {"ANSI (code page 1252)", bytes("caf\xE9.exe\r\nnotepad.exe\r\n"), {L"caf\u00E9.exe", L"notepad.exe"}},
      {"UTF-8 without a mark", bytes("caf\xC3\xA9.exe\nnotepad.exe"), {L"caf\u00E9.exe", L"notepad.exe"}},
      {"UTF-8 with its mark",
       bytes("\xEF\xBB\xBF"
             "caf\xC3\xA9.exe\r\nnotepad.exe\r\n"),
       {L"caf\u00E9.exe", L"notepad.exe"}},
      {"UTF-8 with a stray zero byte",
       bytes(std::string_view("calc.exe\r\nnotepad.exe\r\n\0", 24)),
       {L"calc.exe", L"notepad.exe"}},
      {"UTF-16 without a mark, last line unended", utf16(L"calc.exe\r\nnotepad.exe"), {L"calc.exe", L"notepad.exe"}},
      {"UTF-16 with its mark and final line end",
       utf16(L"\xFEFF"
             L"calc.exe\r\nnotepad.exe\r\n"),
       {L"calc.exe", L"notepad.exe"}},
      {"UTF-16 with its mark, last line unended",
       utf16(L"\xFEFF"
             L"calc.exe\r\nnotepad.exe"),
       {L"calc.exe", L"notepad.exe"}},
      {"lines ended by CR alone", bytes("calc.exe\rnotepad.exe\r"), {L"calc.exe", L"notepad.exe"}},
      {"an entry of 2000 characters", utf16(L"calc.exe\r\n" + longEntry + L"\r\n"), {L"calc.exe", longEntry}},
      {"a lone surrogate",
       utf16(L"\xD83D"
             L".exe\r\ncalc.exe\r\n"),
       {L"\xD83D"
        L".exe",
        L"calc.exe"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      std::ofstream file(ListFilePath.c_str(), std::ios::binary | std::ios::trunc);
      file.write(c.file.data(), static_cast<std::streamsize>(c.file.size()));
    }
    ListChangedCount = 0;
    HWND main = Open();
    ASSERT_NE(main, nullptr);
    std::vector<std::wstring> shown = ListBoxOnceSettled(main, c.entries.size());
    std::vector<std::wstring> expected = c.entries;
    std::sort(shown.begin(), shown.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shown, expected) << "the list box shows each entry as the file holds it";
    ::SendDlgItemMessageW(main, IDC_PROCESS_LIST, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    Click(main, IDC_REMOVE);
    ASSERT_TRUE(WaitUntil([] { return ListChangedCount == 1; })) << "the unrelated edit was not saved";
    std::vector<std::wstring> reloaded = ReadListFile();
    std::sort(reloaded.begin(), reloaded.end());
    EXPECT_EQ(reloaded, expected);
    ::PostMessageW(main, WM_CLOSE, 0, 0);
    WaitClosed();
  }
}

// A save that fails leaves the list box, the file and the worker (restarted
// only after a save) agreeing on what the file holds.
TEST_F(MainWindowTest, AfterAFailedSaveTheListShowsWhatTheFileHolds) {
  WriteListFile({L"a.exe", L"b.exe"});
  HWND main = Open();
  ASSERT_NE(main, nullptr);
  ASSERT_THAT(ListBoxOnceSettled(main, 2), ElementsAre(L"a.exe", L"b.exe"));
  ASSERT_TRUE(::SetFileAttributesW(ListFilePath.c_str(), FILE_ATTRIBUTE_READONLY));

  auto dismissSaveError = [&] {
    HWND box = WaitFor([&] { return FindDialog(uiThread_, L"Tarnwick", main); });
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_THAT(StaticTexts(box), testing::Contains(testing::HasSubstr(L"could not be saved")));
    EXPECT_THAT(ReadListBoxEntries(::GetDlgItem(main, IDC_PROCESS_LIST)), ElementsAre(L"a.exe", L"b.exe"))
        << "already while the box is open";
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(box); }));
  };
  Click(main, IDC_CLEAR_ALL);
  dismissSaveError();
  TypeAndConfirm(main, L"typed.exe");
  dismissSaveError();
  ::SendDlgItemMessageW(main, IDC_PROCESS_LIST, LB_SETCURSEL, 0, 0);
  Click(main, IDC_REMOVE);
  dismissSaveError();
  EXPECT_THAT(ListBoxOnceSettled(main, 2), ElementsAre(L"a.exe", L"b.exe"));
  EXPECT_THAT(ReadListFile(), ElementsAre(L"a.exe", L"b.exe"));
  EXPECT_EQ(ListChangedCount, 0) << "the worker keeps the list the file holds";

  // Once the file can be written, the next edit saves from there.
  ::SetFileAttributesW(ListFilePath.c_str(), FILE_ATTRIBUTE_NORMAL);
  TypeAndConfirm(main, L"c.exe");
  EXPECT_THAT(ListBoxOnceSettled(main, 3), ElementsAre(L"a.exe", L"b.exe", L"c.exe"));
  EXPECT_THAT(ReadListFile(), ElementsAre(L"a.exe", L"b.exe", L"c.exe"));
  EXPECT_EQ(ListChangedCount, 1);
  ::PostMessageW(main, WM_CLOSE, 0, 0);
  WaitClosed();
}

TEST_F(MainWindowTest, MethodSwitchesFlipTheirSettingAndCheckMark) {
  HWND main = Open();
  ASSERT_NE(main, nullptr);
  struct Switch {
    int command;
    const wchar_t* setting;
    bool defaultOn;
  };
  const Switch switches[] = {
      {IDM_EFFICIENCY_MODE_OFF, kMethodEfficiencyMode, true},
      {IDM_CPU_AFFINITIES, kMethodCpuAffinity, false},
      {IDM_CPU_SETS, kMethodCpuSets, false},
      {IDM_INCLUDE_BETAS, kBetaUpdates, false},
  };
  HMENU menu = ::GetMenu(main);
  ASSERT_NE(menu, nullptr);
  auto checked = [&](int command) {
    ::SendMessageW(main, WM_ENTERMENULOOP, FALSE, 0);
    return (::GetMenuState(menu, static_cast<UINT>(command), MF_BYCOMMAND) & MF_CHECKED) != 0;
  };
  auto stored = [](const wchar_t* name) -> std::optional<DWORD> {
    DWORD value = 0, size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, L"Software\\Tarnwick", name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    return value;
  };
  for (const Switch& s : switches) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(s.setting)));
    EXPECT_EQ(checked(s.command), s.defaultOn);
    ::SendMessageW(main, WM_COMMAND, MAKEWPARAM(s.command, 0), 0);
    EXPECT_EQ(stored(s.setting), std::optional<DWORD>(s.defaultOn ? 0 : 1));
    EXPECT_EQ(checked(s.command), !s.defaultOn);
    ::SendMessageW(main, WM_COMMAND, MAKEWPARAM(s.command, 0), 0);
    EXPECT_EQ(stored(s.setting), std::optional<DWORD>(s.defaultOn ? 1 : 0));
    EXPECT_EQ(checked(s.command), s.defaultOn);
  }
  // A change made elsewhere shows at the next menu entry.
  DWORD on = 1;
  ::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Tarnwick", kBetaUpdates, REG_DWORD, &on, sizeof(on));
  EXPECT_TRUE(checked(IDM_INCLUDE_BETAS));

  ::SendMessageW(main, WM_COMMAND, MAKEWPARAM(IDM_MINIMIZE_TO_TRAY, 0), 0);
  WaitClosed();
  EXPECT_EQ(StartWorkerCount, 0);
}

TEST_F(MainWindowTest, AddDialogGivesItsTextBackWholeAndAboutNamesTheVersion) {
  HWND main = Open();
  ASSERT_NE(main, nullptr);
  Click(main, IDC_ADD);
  HWND field = ::GetDlgItem(WaitForAddDialog(), IDC_ENTRY_EDIT);
  EXPECT_EQ(::SendMessageW(field, EM_GETLIMITTEXT, 0, 0), 1023) << "typing or pasting stops at 1023 characters";
  ::SendMessageW(::GetParent(field), WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(field); }));
  TypeAndConfirm(main, std::wstring(1023, L'x'));
  EXPECT_THAT(ListBoxOnceSettled(main, 1), ElementsAre(std::wstring(1023, L'x')));
  EXPECT_THAT(ReadListFile(), ElementsAre(std::wstring(1023, L'x')));

  TypeAndConfirm(main, L"");
  EXPECT_THAT(ListBoxOnceSettled(main, 1), ElementsAre(std::wstring(1023, L'x'))) << "an empty text adds nothing";
  EXPECT_EQ(ListChangedCount, 1);

  // The keyboard: Escape cancels, Enter confirms.
  for (const WPARAM key : {VK_ESCAPE, VK_RETURN}) {
    Click(main, IDC_ADD);
    HWND dialog = WaitForAddDialog();
    ASSERT_NE(dialog, nullptr);
    ::SendDlgItemMessageW(dialog, IDC_ENTRY_EDIT, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"keyed.exe"));
    ::PostMessageW(::GetDlgItem(dialog, IDC_ENTRY_EDIT), WM_KEYDOWN, key, 1);
    ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(dialog); }));
  }
  EXPECT_THAT(ListBoxOnceSettled(main, 2), ElementsAre(L"keyed.exe", std::wstring(1023, L'x')));
  EXPECT_EQ(ListChangedCount, 2);

  ::PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDM_ABOUT, 0), 0);
  HWND about = WaitFor([&] { return FindDialog(uiThread_, L"About Tarnwick"); });
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(::GetWindow(about, GW_OWNER), main) << "owned by the main window";
  const std::wstring firstLine = L"Tarnwick v" + std::wstring(CurrentVersionText) + L"\n";
  EXPECT_EQ(WindowText(::GetDlgItem(about, IDC_ABOUT_TEXT)).substr(0, firstLine.size()), firstLine);
  ::SendMessageW(about, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(::IsWindowVisible(about)) << "Escape does nothing in the About dialog";
  Click(about, IDOK);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(about); }));
  EXPECT_EQ(WindowText(::GetDlgItem(main, IDC_VERSION)), L"v" + std::wstring(CurrentVersionText));

  Click(main, IDOK);
  WaitClosed();
}

// Dark mode over the recording fake for one test; light and unsupported again afterwards.
class DarkModeForTest {
 public:
  explicit DarkModeForTest(bool appsDark = true) {
    fake.appsDark = appsDark;
    InitDarkMode(fake);
  }
  ~DarkModeForTest() {
    static FakeDarkModeApi switchedOff;
    switchedOff.darkModeDisabled = true;
    switchedOff.recording = false;
    InitDarkMode(switchedOff);
    ThemePalette = LightPalette();
  }
  DarkModeForTest(const DarkModeForTest&) = delete;
  DarkModeForTest& operator=(const DarkModeForTest&) = delete;
  FakeDarkModeApi fake;
};

// One call as the fake logs it: its parts joined by blanks. (Built by
// appending: GCC 12 warns wrongly on "literal" + std::string here.)
std::string Call(std::initializer_list<std::string_view> parts) {
  std::string call;
  for (const std::string_view part : parts) {
    if (!call.empty()) call.push_back(' ');
    call.append(part);
  }
  return call;
}

std::string ControlName(int id) {
  std::string name(1, 'c');
  name.append(std::to_string(id));
  return name;
}

// Each opening of the dark main window draws its menu bar with a "Menu"
// theme of its own, closed when the window closes.
TEST_F(MainWindowTest, EachOpeningClosesTheMenuBarThemeItOpened) {
  DarkModeForTest dark;
  for (int opening = 1; opening <= 2; ++opening) {
    SCOPED_TRACE(opening);
    HWND main = Open();
    ASSERT_NE(main, nullptr);
    dark.fake.NameWindow(main, "main");
    Canvas canvas(400, 300);
    MenuBarRecord record = {::GetMenu(main), canvas.Dc(), 0};
    EXPECT_EQ(::SendMessageW(main, kMenuBarPaintMessage, 0, reinterpret_cast<LPARAM>(&record)), 0);
    EXPECT_EQ(dark.fake.OpenThemes(), 1u);
    EXPECT_EQ(dark.fake.CallsStartingWith("OpenThemeData").size(), 1u);
    Click(main, IDOK);
    WaitClosed();
    EXPECT_EQ(dark.fake.OpenThemes(), 0u) << "closed with the window";
    dark.fake.ClearCalls();
  }
}

TEST_F(MainWindowTest, ADarkThemeChangeThemesWindowGraphControlsButtonsAndStatusBarInOrder) {
  DarkModeForTest dark;
  HWND main = Open();
  ASSERT_NE(main, nullptr);
  HWND graph = ::FindWindowExW(main, nullptr, kGraphWindowClass, nullptr);
  ASSERT_NE(graph, nullptr);
  dark.fake.NameWindow(main, "main");
  dark.fake.NameWindow(graph, "graph");
  const int templateControls[] = {
      IDC_LIST_GROUP,        IDC_PROCESS_LIST, IDC_ADD,         IDC_REMOVE,      IDC_CLEAR_ALL, IDOK,
      IDC_GRAPH_PLACEHOLDER, IDC_ABOUT_GROUP,  IDC_DESCRIPTION, IDC_COUNT_LABEL, IDC_VERSION};
  for (const int id : templateControls) dark.fake.NameWindow(::GetDlgItem(main, id), ControlName(id));
  GraphState& state = SharedGraphState();
  std::vector<std::string> expected = {"AllowWindowDark main 1", "SetWindowCompositionAttribute main 26 1",
                                       "SetWindowTheme graph \"Explorer\" null", "AllowWindowDark graph 1"};
  for (const auto& panel : state.panels) {
    dark.fake.NameWindow(panel->groupBox, "box");
    expected.insert(expected.end(), {"AllowWindowDark box 1", "SetWindowTheme box \"\" \"\""});
    for (HWND cell : PanelCells(*panel)) {
      dark.fake.NameWindow(cell, "cell");
      expected.insert(expected.end(), {"SetWindowTheme cell \"Explorer\" null", "AllowWindowDark cell 1"});
    }
  }
  expected.insert(expected.end(), {"SetWindowTheme c1014 \"\" \"\"", "SetWindowTheme c1011 \"\" \"\""});
  // The template's twelve controls in template order; the caption without an id last.
  for (const int id : templateControls) {
    const std::string name = ControlName(id);
    expected.insert(expected.end(),
                    {Call({"SetWindowTheme", name, "\"\" \"\""}), Call({"AllowWindowDark", name, "1"})});
  }
  expected.insert(expected.end(), {"SetWindowTheme window \"\" \"\"", "AllowWindowDark window 1"});
  for (const int id : {IDC_CLEAR_ALL, IDC_REMOVE, IDC_ADD, IDOK}) {
    const std::string name = ControlName(id);
    expected.insert(expected.end(),
                    {Call({"AllowWindowDark", name, "1"}), Call({"SetWindowTheme", name, "\"Explorer\" null"})});
  }

  dark.fake.ClearCalls();
  ::SendMessageW(main, WM_THEMECHANGED, 0, 0);
  std::vector<std::string> themed;
  for (const std::string& call : dark.fake.Calls()) {
    if (call.rfind("AllowWindowDark", 0) == 0 || call.rfind("SetWindowTheme", 0) == 0 ||
        call.rfind("SetWindowComposition", 0) == 0) {
      themed.push_back(call);
    }
  }
  EXPECT_THAT(themed, testing::ElementsAreArray(expected));

  // Dark colours, the dark marker drawn without AND, and the dark status bar
  // measured in the font it is painted with.
  EXPECT_EQ(ThemePalette, kDarkPalette);
  EXPECT_EQ(state.colours.boxBackground, 0x383838u);
  EXPECT_EQ(state.colours.cellBackground, 0x303030u);
  EXPECT_EQ(state.colours.bar, 0x30CC30u);
  EXPECT_FALSE(state.marker.blendWithAnd);
  EXPECT_EQ(state.marker.width, 16);
  HBITMAP darkMarker = state.marker.bitmap;
  {
    // Bitmap 121: a light badge on black, which stays out of the cell when OR-ed on.
    unique_hdc dc(::CreateCompatibleDC(nullptr));
    select_object_scope selected(dc.get(), darkMarker);
    EXPECT_EQ(::GetPixel(dc.get(), 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(::GetPixel(dc.get(), 3, 8), RGB(0xB4, 0xC8, 0xDC));
  }
  HWND statusBar = ::GetDlgItem(main, IDC_STATUS_BAR);
  const HFONT paintFont = StatusBarPainterFont(statusBar);
  ASSERT_NE(paintFont, nullptr) << "no dark status bar painter";
  int edges[4] = {};
  ::SendMessageW(statusBar, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges));
  {
    window_dc dc(statusBar);
    select_object_scope selected(dc.get(), paintFont);
    SIZE extent = {};
    ::GetTextExtentPoint32W(dc.get(), L"STOPPED", 7, &extent);
    EXPECT_EQ(edges[0], extent.cx + 20);
  }

  // The user switches to light: the system draws again.
  dark.fake.appsDark = false;
  ::SendMessageW(main, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"ImmersiveColorSet"));
  EXPECT_EQ(ThemePalette, LightPalette());
  EXPECT_EQ(StatusBarPainterFont(statusBar), nullptr);
  EXPECT_TRUE(state.marker.blendWithAnd);
  EXPECT_NE(state.marker.bitmap, darkMarker);
  EXPECT_EQ(state.colours.cellBackground, 0xDCDCDCu);

  ::PostMessageW(main, WM_CLOSE, 0, 0);
  WaitClosed();
}

// The colour of the brush a colour message of the main window returns.
COLORREF BrushColourOf(HWND main, UINT message, HWND control) {
  Canvas dc(4, 4);
  const auto brush = reinterpret_cast<HBRUSH>(
      ::SendMessageW(main, message, reinterpret_cast<WPARAM>(dc.Dc()), reinterpret_cast<LPARAM>(control)));
  LOGBRUSH described = {};
  if (brush == nullptr || ::GetObjectW(brush, sizeof(described), &described) != sizeof(described)) return CLR_INVALID;
  return described.lbColor;
}

// How many pixels of the control's own painting have this colour.
int PaintedPixels(HWND control, COLORREF colour) {
  RECT client{};
  ::GetClientRect(control, &client);
  Canvas canvas(client.right, client.bottom);
  ::SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.Dc()), PRF_CLIENT | PRF_ERASEBKGND);
  int count = 0;
  for (int y = 0; y < client.bottom; ++y) {
    for (int x = 0; x < client.right; ++x) count += canvas.At(x, y) == colour ? 1 : 0;
  }
  return count;
}

// The user switches Windows from light to dark while the window is open: it
// turns dark without being reopened or activated again.
TEST_F(MainWindowTest, ALiveSwitchFromLightToDarkRecoloursTheOpenWindow) {
  DarkModeForTest dark(/*appsDark=*/false);
  dark.fake.themeDataAvailable = false;  // the dark menu bar is filled with the palette
  WriteListFile({L"calc.exe"});
  HWND main = Open();
  ASSERT_NE(main, nullptr);
  HWND list = ::GetDlgItem(main, IDC_PROCESS_LIST);
  HWND statusBar = ::GetDlgItem(main, IDC_STATUS_BAR);
  // The line between the menu bar and the client area, in window coordinates.
  RECT windowRect{}, client{};
  ::GetWindowRect(main, &windowRect);
  ::GetClientRect(main, &client);
  ::MapWindowPoints(main, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
  const RECT line = MenuBarBottomLine(client, windowRect);
  const int lineMiddle = (line.left + line.right) / 2;

  EXPECT_EQ(ThemePalette, LightPalette());
  EXPECT_EQ(StatusBarPainterFont(statusBar), nullptr);
  EXPECT_EQ(PaintedPixels(list, 0x1E1E1E), 0);
  EXPECT_EQ(PaintedPixels(statusBar, 0x383838), 0);
  EXPECT_NE(ShownAt(main, lineMiddle, line.top), 0x383838u);

  dark.fake.appsDark = true;
  ::SendMessageW(main, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"ImmersiveColorSet"));
  EXPECT_EQ(ThemePalette, kDarkPalette);
  EXPECT_NE(StatusBarPainterFont(statusBar), nullptr) << "the dark status bar painter";
  EXPECT_EQ(BrushColourOf(main, WM_CTLCOLORLISTBOX, list), 0x1E1E1Eu);
  EXPECT_EQ(BrushColourOf(main, WM_CTLCOLORSTATIC, ::GetDlgItem(main, IDC_DESCRIPTION)), 0x383838u);
  EXPECT_EQ(BrushColourOf(main, WM_CTLCOLORDLG, main), 0x383838u);
  RECT listClient{}, statusClient{};
  ::GetClientRect(list, &listClient);
  ::GetClientRect(statusBar, &statusClient);
  EXPECT_GT(PaintedPixels(list, 0x1E1E1E), listClient.right * listClient.bottom / 2) << "the list box";
  EXPECT_GT(PaintedPixels(statusBar, 0x383838), statusClient.right * statusClient.bottom / 2) << "the status bar";
  EXPECT_TRUE(WaitUntil([&] { return ShownAt(main, lineMiddle, line.top) == 0x383838u; }))
      << "the frame is redrawn dark at once";

  Click(main, IDOK);
  WaitClosed();
}

}  // namespace
}  // namespace tarnwick
