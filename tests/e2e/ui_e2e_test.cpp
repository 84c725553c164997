// The main window as a user meets it: opened from the tray icon, the list
// edited with Add, a double-click, Remove and Clear All, the menus, the
// dialogs, the status bar and the count label, and how closing it treats the
// worker. The menu's check marks live in the program's own memory, out of
// reach of another process under Wine; the in-process window test covers them.
#include <gmock/gmock.h>

#include <regex>
#include <string>
#include <vector>

#include "app/messages.h"
#include "res/resource.h"
#include "tests/e2e/driver/tarnwick_driver.h"
#include "tests/e2e/driver/window_controls.h"
#include "ui/list_box_text.h"

namespace tarnwick::e2e {
namespace {

using testing::Contains;
using testing::ElementsAre;
using testing::IsEmpty;

constexpr const wchar_t* kSettingsKey = L"Software\\Tarnwick";
// The program matches itself, which gives the worker a process to count.
constexpr const wchar_t* kOwnImage = L"tarnwick.exe";

// The bytes the list file holds for `entries`: UTF-16 little endian, CR LF after each.
std::string ListFileBytes(const std::vector<std::wstring>& entries) {
  std::string bytes;
  for (const std::wstring& entry : entries) {
    for (const wchar_t unit : entry + L"\r\n") {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
  }
  return bytes;
}

bool SameTime(const std::optional<FILETIME>& a, const std::optional<FILETIME>& b) {
  return a && b && a->dwLowDateTime == b->dwLowDateTime && a->dwHighDateTime == b->dwHighDateTime;
}

std::optional<DWORD> Counter(const wchar_t* name) { return ReadRegistryDword(HKEY_CURRENT_USER, kSettingsKey, name); }

class MainWindowTest : public TarnwickTest {
 protected:
  void SetUp() override { ForgetUserState(); }
  void TearDown() override {
    TarnwickTest::TearDown();
    ForgetUserState();
  }

  static void ForgetUserState() {
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kSettingsKey);
    ::DeleteFileW(ListFilePath().c_str());
  }

  // Starts the program and opens its main window with a click on the icon.
  HWND StartAndOpen() {
    instance_ = &StartInstance();
    return OpenFromTray();
  }

  HWND OpenFromTray() {
    PostTrayCallback(FindTrayWindow(), WM_LBUTTONUP);
    const HWND main = WaitForDialog(instance_->Id(), L"Tarnwick");
    EXPECT_NE(main, nullptr) << "a click on the icon opens no main window";
    return main;
  }

  HWND WaitForAddDialog() {
    const HWND dialog = WaitForDialog(instance_->Id(), L"Add New Entry");
    EXPECT_NE(dialog, nullptr) << "no Add New Entry dialog";
    return dialog;
  }

  // Types `text` into the open Add New Entry dialog and presses `button`.
  void Answer(HWND dialog, const std::wstring& text, int button = IDOK) {
    ASSERT_NE(dialog, nullptr);
    TypeText(dialog, IDC_ENTRY_EDIT, text);
    ClickButton(dialog, button);
    ASSERT_TRUE(WaitForWindowGone(dialog));
  }

  void Add(HWND main, const std::wstring& text) {
    ClickButton(main, IDC_ADD);
    Answer(WaitForAddDialog(), text);
  }

  void DismissDuplicateMessage(HWND main) {
    const HWND box = WaitForDialog(instance_->Id(), L"Tarnwick", main);
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_THAT(StaticTextsOf(box), Contains(L"ERROR: Item already in list"));
    ClickButton(box, IDOK);
    ASSERT_TRUE(WaitForWindowGone(box));
  }

  // The list box once no dialog of the program is in the way any more.
  std::vector<std::wstring> Listed(HWND main) {
    WaitForWindowIdle(main);
    return ReadListBoxEntries(::GetDlgItem(main, IDC_PROCESS_LIST));
  }

  bool WaitForListed(HWND main, const std::vector<std::wstring>& expected) {
    return WaitUntil([&] { return ReadListBoxEntries(::GetDlgItem(main, IDC_PROCESS_LIST)) == expected; });
  }

  bool WaitForListFile(const std::vector<std::wstring>& expected) {
    return WaitUntil([&] { return ReadFileBytes(ListFilePath()) == ListFileBytes(expected); });
  }

  // Closes the main window and waits until the tray window has finished with
  // it, including a restart of the worker that follows "OK".
  void CloseAndSettle(HWND main, UINT message, WPARAM wParam) {
    ::PostMessageW(main, message, wParam, 0);
    ASSERT_TRUE(WaitForWindowGone(main));
    WaitForWindowIdle(FindTrayWindow());
  }

  // The worker still runs when it writes its counter again.
  void ExpectWorkerStillRunning() {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"LastScannedCount");
    EXPECT_TRUE(WaitUntil([] { return Counter(L"LastScannedCount").has_value(); })) << "the worker stopped";
  }

  TarnwickProcess* instance_ = nullptr;
};

// --- Editing the list -------------------------------------------------------

using UiListEditing = MainWindowTest;

TEST_F(UiListEditing, AddRefusesAListedTextWhateverItsCaseAndSavesTheListBoxAsShown) {
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);

  Add(main, L"notepad.exe");
  EXPECT_THAT(Listed(main), ElementsAre(L"notepad.exe"));
  EXPECT_TRUE(WaitForListFile({L"notepad.exe"}));

  ClickButton(main, IDC_ADD);
  const HWND dialog = WaitForAddDialog();
  ASSERT_NE(dialog, nullptr);
  TypeText(dialog, IDC_ENTRY_EDIT, L"C:\\Tools\\*.exe");
  TakeScreenshot(ArtifactName("add-dialog"), dialog);
  Answer(dialog, L"C:\\Tools\\*.exe");

  Add(main, L"NOTEPAD.EXE");
  DismissDuplicateMessage(main);

  const std::vector<std::wstring> listed = Listed(main);
  EXPECT_THAT(listed, ElementsAre(L"C:\\Tools\\*.exe", L"notepad.exe"));
  EXPECT_EQ(ReadFileBytes(ListFilePath()), ListFileBytes(listed)) << "the file holds exactly the list box";
  TakeScreenshot(ArtifactName("main-window"), main);
}

TEST_F(UiListEditing, ADoubleClickEditThatChangesNothingPutsTheEntryBackAndLeavesTheFile) {
  WriteListFile({L"notepad.exe", L"calc.exe"});
  const std::optional<FILETIME> written = ListFileLastWrite();
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  const HWND list = ::GetDlgItem(main, IDC_PROCESS_LIST);
  ASSERT_TRUE(WaitForListed(main, {L"calc.exe", L"notepad.exe"})) << "the list box sorts";

  // Cancel.
  DoubleClickListEntry(list, 1);
  HWND dialog = WaitForAddDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(WindowTextOf(::GetDlgItem(dialog, IDC_ENTRY_EDIT)), L"notepad.exe");
  EXPECT_THAT(ReadListBoxEntries(list), ElementsAre(L"calc.exe")) << "the entry is out while it is edited";
  Answer(dialog, L"changed.exe", IDCANCEL);
  EXPECT_THAT(Listed(main), ElementsAre(L"calc.exe", L"notepad.exe"));

  // Confirmed as a text already listed: the message, then the entry is back.
  DoubleClickListEntry(list, 1);
  Answer(WaitForAddDialog(), L"CALC.EXE");
  DismissDuplicateMessage(main);
  EXPECT_THAT(Listed(main), ElementsAre(L"calc.exe", L"notepad.exe"));

  // Confirmed empty.
  DoubleClickListEntry(list, 0);
  Answer(WaitForAddDialog(), L"");
  EXPECT_THAT(Listed(main), ElementsAre(L"calc.exe", L"notepad.exe"));

  EXPECT_TRUE(SameTime(ListFileLastWrite(), written)) << "the file was rewritten";
  EXPECT_EQ(ReadFileBytes(ListFilePath()), ListFileBytes({L"notepad.exe", L"calc.exe"}));
}

TEST_F(UiListEditing, RemoveAndClearAllRewriteTheFileAndRestartTheWorker) {
  WriteListFile({L"zzz.exe", kOwnImage});
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  const HWND list = ::GetDlgItem(main, IDC_PROCESS_LIST);
  ASSERT_TRUE(WaitForListed(main, {kOwnImage, L"zzz.exe"}));
  ASSERT_TRUE(WaitUntil([] { return Counter(L"CurrentEnforcedCount") == 1u; })) << "the worker matches itself";

  // Remove with a selection: the restarted worker no longer matches.
  ::SendMessageW(list, LB_SETCURSEL, 0, 0);
  FILETIME clicked = Now();
  ClickButton(main, IDC_REMOVE);
  EXPECT_TRUE(WaitForListed(main, {L"zzz.exe"}));
  EXPECT_TRUE(WaitForListFile({L"zzz.exe"}));
  EXPECT_TRUE(WaitUntil([&] { return ThreadStartedAfter(instance_->Id(), clicked); })) << "no worker restart";
  EXPECT_TRUE(WaitUntil([] { return Counter(L"CurrentEnforcedCount") == 0u; }));

  // Remove without a selection still saves the list box and restarts the worker.
  ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  WriteListFile({L"changed behind the window's back"});
  clicked = Now();
  ClickButton(main, IDC_REMOVE);
  EXPECT_TRUE(WaitForListFile({L"zzz.exe"}));
  EXPECT_THAT(Listed(main), ElementsAre(L"zzz.exe"));
  EXPECT_TRUE(WaitUntil([&] { return ThreadStartedAfter(instance_->Id(), clicked); })) << "no worker restart";

  clicked = Now();
  ClickButton(main, IDC_CLEAR_ALL);
  EXPECT_TRUE(WaitForListed(main, {}));
  EXPECT_TRUE(WaitUntil([] { return ReadFileBytes(ListFilePath()) == std::string(); })) << "an empty file";
  EXPECT_TRUE(WaitUntil([&] { return ThreadStartedAfter(instance_->Id(), clicked); })) << "no worker restart";
}

// --- The worker and the status ------------------------------------------------

using UiWorkerStatus = MainWindowTest;

TEST_F(UiWorkerStatus, StatusBarAndCountLabelShowTheWorkersCountersWithinThreeSeconds) {
  WriteListFile({kOwnImage});
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  const HWND statusBar = ::GetDlgItem(main, IDC_STATUS_BAR);
  std::wstring shown;
  const bool agrees = WaitUntil(
      [&] {
        const std::optional<DWORD> matched = Counter(L"CurrentEnforcedCount");
        const std::optional<DWORD> scanned = Counter(L"LastScannedCount");
        if (!matched || !scanned) return false;
        const std::wstring counts = std::to_wstring(*matched) + L" of " + std::to_wstring(*scanned);
        shown = StatusBarPartText(statusBar, 0) + L" | " + StatusBarPartText(statusBar, 3) + L" | " +
                WindowTextOf(::GetDlgItem(main, IDC_COUNT_LABEL));
        return *matched == 1 && shown == L"MONITORING | Matched processes: " + counts + L" | " + counts;
      },
      3s);
  EXPECT_TRUE(agrees) << "shown: " << testing::PrintToString(shown);
  // The P-cores' mean follows this machine's load; Wine reports no E-cores.
  const std::wregex usage(LR"(P-Core usage: (0|[1-9]\d?|100)\.\d\d%)");
  EXPECT_TRUE(std::regex_match(StatusBarPartText(statusBar, 1), usage))
      << testing::PrintToString(StatusBarPartText(statusBar, 1));
  EXPECT_EQ(StatusBarPartText(statusBar, 2), L"E-Core usage: 0.00%");
  TakeScreenshot(ArtifactName("main-window"), main);
}

TEST_F(UiWorkerStatus, OkRestartsTheWorkerWithTheSavedListAndClosingLeavesItRunning) {
  HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitUntil([] { return Counter(L"LastScannedCount").has_value(); })) << "no worker";

  FILETIME closed = Now();
  CloseAndSettle(main, WM_SYSCOMMAND, SC_CLOSE);
  EXPECT_FALSE(ThreadStartedAfter(instance_->Id(), closed)) << "the close box restarted the worker";
  ExpectWorkerStillRunning();

  main = OpenFromTray();
  ASSERT_NE(main, nullptr);
  closed = Now();
  CloseAndSettle(main, WM_COMMAND, IDM_MINIMIZE_TO_TRAY);
  EXPECT_FALSE(ThreadStartedAfter(instance_->Id(), closed)) << "Minimize To Tray restarted the worker";
  ExpectWorkerStillRunning();

  // The list file changes while the window is open; OK restarts the worker with it.
  main = OpenFromTray();
  ASSERT_NE(main, nullptr);
  WriteListFile({kOwnImage});
  EXPECT_EQ(Counter(L"CurrentEnforcedCount"), 0u);
  closed = Now();
  ::PostMessageW(::GetDlgItem(main, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitForWindowGone(main));
  EXPECT_TRUE(WaitUntil([&] { return ThreadStartedAfter(instance_->Id(), closed); })) << "no worker restart";
  EXPECT_TRUE(WaitUntil([] { return Counter(L"CurrentEnforcedCount") == 1u; }));
  EXPECT_TRUE(instance_->IsRunning());
}

TEST_F(UiWorkerStatus, TheProgramEndsCleanlyWhileTheWindowIsOpen) {
  HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  const RunResult close = Run({L"--close"});
  EXPECT_EQ(close.exit_code, 0u);
  ASSERT_TRUE(instance_->WaitForExit(10s));
  EXPECT_EQ(instance_->ExitCode(), 0u);

  main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  PostTrayCallback(FindTrayWindow(), WM_RBUTTONUP);
  const HWND menu = WaitForPopupMenu(instance_->Id());
  ASSERT_NE(menu, nullptr) << "the icon's menu does not open beside the main window";
  ChooseMenuItem(menu, L'x');
  ASSERT_TRUE(instance_->WaitForExit());
  EXPECT_EQ(instance_->ExitCode(), 0u);
}

// --- Menus and dialogs --------------------------------------------------------

using UiMenusAndDialogs = MainWindowTest;

TEST_F(UiMenusAndDialogs, MethodItemsAndIncludeBetasFlipTheirRegistryValues) {
  const HWND main = StartAndOpen();
  ASSERT_NE(main, nullptr);
  struct Item {
    UINT command;
    const wchar_t* value;
    bool defaultOn;
  };
  const Item items[] = {
      {IDM_EFFICIENCY_MODE_OFF, L"MethodEfficiencyMode", true},
      {IDM_CPU_AFFINITIES, L"MethodCPUAffinity", false},
      {IDM_CPU_SETS, L"MethodCPUSets", false},
      {IDM_INCLUDE_BETAS, L"BetaUpdates", false},
  };
  for (const Item& item : items) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(item.value)));
    ::SendMessageW(main, WM_COMMAND, item.command, 0);
    EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, kSettingsKey, item.value), item.defaultOn ? 0u : 1u);
    ::SendMessageW(main, WM_COMMAND, item.command, 0);
    EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, kSettingsKey, item.value), item.defaultOn ? 1u : 0u);
  }
}

TEST_F(UiMenusAndDialogs, ASecondStartOpensTheWindowOrBringsItForwardAndExitsWithZero) {
  instance_ = &StartInstance();
  // The running instance opens its window inside the second start's request,
  // so that start is answered, and exits, once the window has closed.
  TarnwickProcess& opening = Start();
  const HWND main = WaitForDialog(instance_->Id(), L"Tarnwick");
  ASSERT_NE(main, nullptr) << "the hand-over opens the main window";
  EXPECT_TRUE(opening.IsRunning()) << "answered before the window closed";
  EXPECT_EQ(WindowTextOf(::GetDlgItem(main, IDC_VERSION)), L"v1.2.2.4");

  ::PostMessageW(main, WM_COMMAND, IDM_ABOUT, 0);
  const HWND about = WaitForDialog(instance_->Id(), L"About Tarnwick");
  ASSERT_NE(about, nullptr);
  const std::wstring text = WindowTextOf(::GetDlgItem(about, IDC_ABOUT_TEXT));
  EXPECT_EQ(text.substr(0, text.find(L'\n')), L"Tarnwick v1.2.2.4");
  EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 4) << "five lines";
  TakeScreenshot(ArtifactName("about-dialog"), about);
  ClickButton(about, IDOK);
  ASSERT_TRUE(WaitForWindowGone(about));

  const RunResult second = Run({});
  EXPECT_TRUE(second.exited);
  EXPECT_EQ(second.exit_code, 0u);
  EXPECT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == main; })) << "not brought forward";
  EXPECT_EQ(WaitForDialog(instance_->Id(), L"Tarnwick", main, 0ms), nullptr) << "a second main window";

  ::PostMessageW(main, WM_CLOSE, 0, 0);
  ASSERT_TRUE(opening.WaitForExit()) << "the first hand-over still waits after the window closed";
  EXPECT_EQ(opening.ExitCode(), 0u);
}

}  // namespace
}  // namespace tarnwick::e2e
