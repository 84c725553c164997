// The Running Processes window in the running program: what the worker did to
// a listed child and left undone to an unlisted one, as Wine answers the
// three placement calls; the status bar's count beside the matched rows;
// copying rows; adding a process by name and its placement that follows.
#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "tests/child/child_processes.h"
#include "tests/e2e/driver/tarnwick_driver.h"
#include "tests/e2e/driver/window_controls.h"
#include "tests/support/clipboard_text.h"
#include "topology/core_map.h"

namespace tarnwick::e2e {
namespace {

constexpr const wchar_t* kSettingsKey = L"Software\\Tarnwick";
constexpr int kColumns = 7;
// The dark palette's dialog ground and separator, which the header and a
// selection without the focus are drawn in.
constexpr COLORREF kDarkHeader = 0x383838;
constexpr COLORREF kDarkUnfocusedSelection = 0x444444;
enum Column { Process, Pid, Pattern, EfficiencyMode, CpuAffinities, CpuSets, Path };

class ProcessesWindowTest : public TarnwickTest {
 protected:
  void SetUp() override {
    ForgetUserState();
    DWORD_PTR own = 0;
    DWORD_PTR system = 0;
    ::GetProcessAffinityMask(::GetCurrentProcess(), &own, &system);
    expectedMask_ = CoreMap().PerformanceCoreMask() & system;
  }
  void TearDown() override {
    TarnwickTest::TearDown();
    ForgetUserState();
  }
  static void ForgetUserState() {
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
    ::DeleteFileW(ListFilePath().c_str());
  }

  // A child named uniquely for this test, held on processor 0.
  size_t StartChild(const std::wstring& stem) {
    names_.push_back(stem + L"_" + std::to_wstring(::GetCurrentProcessId()) + L".exe");
    EXPECT_NE(children_.Start(names_.back()), 0u);
    const size_t index = children_.Count() - 1;
    EXPECT_TRUE(::SetProcessAffinityMask(children_.Handle(index), 1));
    return index;
  }

  // Starts the program, opens the main window from the icon and the processes window from its File menu.
  HWND OpenProcessesWindow() {
    instance_ = &StartInstance();
    PostTrayCallback(FindTrayWindow(), WM_LBUTTONUP);
    main_ = WaitForDialog(instance_->Id(), L"Tarnwick");
    EXPECT_NE(main_, nullptr) << "no main window";
    ::PostMessageW(main_, WM_COMMAND, MAKEWPARAM(IDM_RUNNING_PROCESSES, 0), 0);
    const HWND processes = WaitForDialog(instance_->Id(), L"Running Processes");
    EXPECT_NE(processes, nullptr) << "no Running Processes window";
    return processes;
  }

  // The shown row of the process named `name`, once `ready` holds for it.
  std::vector<std::wstring> WaitForRow(HWND view, const std::wstring& name,
                                       const std::function<bool(const std::vector<std::wstring>&)>& ready,
                                       Timeout timeout = kDefaultTimeout) {
    std::vector<std::wstring> found;
    WaitUntil(
        [&] {
          for (auto& row : ListViewRows(view, kColumns)) {
            if (row[Process] == name) {
              found = row;
              return ready(row);
            }
          }
          found.clear();
          return false;
        },
        timeout);
    return found;
  }

  ChildProcesses children_{FindIdleChildProgram()};
  std::vector<std::wstring> names_;
  TarnwickProcess* instance_ = nullptr;
  HWND main_ = nullptr;
  uint64_t expectedMask_ = 0;
};

using UiProcesses = ProcessesWindowTest;

TEST_F(UiProcesses, ShowsWhatTheWorkerDidCopiesRowsAndAddsAProcessByName) {
  const size_t listed = StartChild(L"tw_e2e_shown");
  const size_t unlisted = StartChild(L"tw_e2e_added");
  WriteListFile({names_[listed]});
  WriteRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"MethodCPUAffinity", 1);
  WriteRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"MethodCPUSets", 1);
  const HWND processes = OpenProcessesWindow();
  ASSERT_NE(processes, nullptr);
  const HWND view = ::GetDlgItem(processes, IDC_PROCESS_VIEW);

  // Wine 8: SetProcessInformation answers ERROR_INVALID_FUNCTION and the CPU
  // set functions are absent, so both read "Not supported"; the affinity is real.
  const std::vector<std::wstring> shown =
      WaitForRow(view, names_[listed], [](const auto& row) { return row[CpuAffinities] == L"Placed"; });
  ASSERT_FALSE(shown.empty()) << "the listed child is not shown";
  // Wine makes the program's event tracing session but cannot deliver from
  // it: the program stops it, places by the pass alone and says why.
  wchar_t label[256] = {};
  ::GetDlgItemTextW(processes, IDC_PROCESS_VIEW_LABEL, label, 256);
  EXPECT_STREQ(label,
               L"&Running processes (listed ones placed within a second; this system reports no process "
               L"starts, error 5):");
  EXPECT_EQ(shown[Pid], std::to_wstring(children_.Id(listed)));
  EXPECT_EQ(shown[Pattern], names_[listed]);
  EXPECT_EQ(shown[EfficiencyMode], L"Not supported");
  EXPECT_EQ(shown[CpuAffinities], L"Placed");
  EXPECT_EQ(shown[CpuSets], L"Not supported");
  EXPECT_THAT(shown[Path], testing::EndsWith(L"\\" + names_[listed]));
  const std::vector<std::wstring> other = WaitForRow(view, names_[unlisted], [](const auto&) { return true; });
  ASSERT_FALSE(other.empty()) << "the unlisted child is not shown";
  EXPECT_THAT(std::vector<std::wstring>(other.begin() + Pattern, other.begin() + Path), testing::Each(std::wstring()));

  // The status bar and the rows come from the same pass.
  const HWND statusBar = ::GetDlgItem(main_, IDC_STATUS_BAR);
  std::wstring status, rows;
  EXPECT_TRUE(WaitUntil([&] {
    const auto all = ListViewRows(view, kColumns);
    const auto matched = std::count_if(all.begin(), all.end(), [](const auto& row) { return !row[Pattern].empty(); });
    rows = L"Matched processes: " + std::to_wstring(matched) + L" of " + std::to_wstring(all.size());
    status = StatusBarPartText(statusBar, 3);
    return status == rows;
  })) << testing::PrintToString(status)
      << " beside rows " << testing::PrintToString(rows);
  TakeScreenshot(ArtifactName("light"));

  // Matched rows come first: the listed child is the top row.
  SelectListViewRows(view, {0});
  ASSERT_EQ(ListViewRows(view, kColumns).at(0)[Process], names_[listed]);
  ::PostMessageW(processes, WM_COMMAND, MAKEWPARAM(IDM_COPY_ROWS, 0), 0);
  const std::wstring header = L"Process\tPID\tPattern\tEfficiency Mode Off\tCPU Affinities\tCPU Sets\tPath\r\n";
  const std::wstring firstRow = names_[listed] + L"\t" + std::to_wstring(children_.Id(listed)) + L"\t" +
                                names_[listed] + L"\tNot supported\tPlaced\tNot supported\t";
  std::wstring copied;
  EXPECT_TRUE(WaitUntil([&] { return (copied = ClipboardText()).rfind(header + firstRow, 0) == 0; }))
      << testing::PrintToString(copied);

  // Add Name on the unlisted child: listed, saved, and placed by the restarted worker.
  int row = -1;
  const auto all = ListViewRows(view, kColumns);
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i][Process] == names_[unlisted]) row = static_cast<int>(i);
  }
  ASSERT_GE(row, 0);
  SelectListViewRows(view, {row});
  const auto clicked = std::chrono::steady_clock::now();
  ::PostMessageW(processes, WM_COMMAND, MAKEWPARAM(IDC_ADD_NAME, BN_CLICKED), 0);
  // The restarted worker passes at once, so this takes well under a second;
  // the deadline is the driver's usual one, for a loaded machine, and the
  // time it took is printed.
  EXPECT_TRUE(WaitUntil([&] { return ProcessAffinity(children_.Handle(unlisted)) == expectedMask_; }))
      << "affinity " << ProcessAffinity(children_.Handle(unlisted));
  std::printf(
      "Placed %lld ms after Add Name\n",
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - clicked).count()));
  // Saved in the main window's list box order, which is sorted.
  EXPECT_THAT(ReadListFile(), testing::Optional(testing::UnorderedElementsAre(names_[listed], names_[unlisted])));
  const std::vector<std::wstring> added =
      WaitForRow(view, names_[unlisted], [](const auto& cells) { return cells[CpuAffinities] == L"Placed"; });
  ASSERT_FALSE(added.empty());
  EXPECT_EQ(added[Pattern], names_[unlisted]);
}

// What `window` shows on the screen once two pictures in a row agree: Wine
// puts a window's painting on the display when its thread is next idle,
// which can come just after the picture was asked for.
std::optional<WindowPicture> SettledPicture(HWND window, bool repaintFirst) {
  std::optional<WindowPicture> last = CaptureWindowPicture(window, repaintFirst);
  for (int attempt = 0; last && attempt < 5; ++attempt) {
    std::optional<WindowPicture> next = CaptureWindowPicture(window, false);
    if (!next || next->pixels == last->pixels) return next;
    last = std::move(next);
  }
  return std::nullopt;
}

// The list view as the screen shows it equals what a full repaint of it
// shows: nothing stays drawn where no row is any more, and nothing moved
// on the screen stands where it does not belong.
::testing::AssertionResult ScreenEqualsAFullRepaint(HWND view) {
  WaitForWindowIdle(view);
  const std::optional<WindowPicture> shown = SettledPicture(view, false);
  const std::optional<WindowPicture> repainted = SettledPicture(view, true);
  if (!shown || !repainted) return ::testing::AssertionFailure() << "no picture";
  if (shown->width != repainted->width || shown->height != repainted->height) {
    return ::testing::AssertionFailure() << "the window changed its size";
  }
  // Where they differ, in the window's pixels, tells which rows were left stale.
  RECT differs = {shown->width, shown->height, -1, -1};
  size_t count = 0;
  for (int y = 0; y < shown->height; ++y) {
    for (int x = 0; x < shown->width; ++x) {
      const size_t at = static_cast<size_t>(y) * static_cast<size_t>(shown->width) + static_cast<size_t>(x);
      if (shown->pixels[at] == repainted->pixels[at]) continue;
      ++count;
      differs = {std::min<LONG>(differs.left, x), std::min<LONG>(differs.top, y), std::max<LONG>(differs.right, x),
                 std::max<LONG>(differs.bottom, y)};
    }
  }
  if (count > 0) {
    return ::testing::AssertionFailure() << "the screen differs in " << count << " pixels, from (" << differs.left
                                         << ", " << differs.top << ") to (" << differs.right << ", " << differs.bottom
                                         << ")";
  }
  return ::testing::AssertionSuccess();
}

// Rows that leave the list, by a process that ends on top or at the end and
// by the filter box, leave nothing behind; the count line says what is shown;
// an add of a listed and a new process adds the new one and names the listed
// one in a box of the Running Processes window, which is active after it.
TEST_F(UiProcesses, GoneRowsLeaveNothingBehindAndAnAddNamesWhatWasListed) {
  const size_t listed = StartChild(L"tw_e2e_a");
  const size_t added = StartChild(L"tw_e2e_b");
  const size_t ending = StartChild(L"tw_e2e_c");
  // Started last: ending it leaves the others' places in children_.
  const size_t top = StartChild(L"tw_e2e_0");
  WriteListFile({names_[top], names_[listed]});
  const HWND processes = OpenProcessesWindow();
  ASSERT_NE(processes, nullptr);
  const HWND view = ::GetDlgItem(processes, IDC_PROCESS_VIEW);
  // Away from the list: a row under the mouse is drawn hot, and a cell's tip could show.
  ::SetCursorPos(1, 1);
  // Only this test's children: their names end in "_<the test's id>.exe".
  const std::wstring ownSuffix = L"_" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
  TypeText(processes, IDC_PROCESS_FILTER, ownSuffix);
  std::vector<std::vector<std::wstring>> rows;
  ASSERT_TRUE(WaitUntil([&] {
    rows = ListViewRows(view, kColumns);
    return rows.size() == 4 && rows[0][Pattern] == names_[top] && rows[1][Pattern] == names_[listed];
  })) << rows.size()
      << " rows";
  // Matched first, then by name: 0, a, b, c; c is the last row.
  EXPECT_EQ(rows[3][Process], names_[ending]);
  std::wstring count;
  EXPECT_TRUE(WaitUntil([&] {
    count = WindowTextOf(::GetDlgItem(processes, IDC_PROCESS_COUNT));
    return count.ends_with(L" matched, 4 shown");
  })) << testing::PrintToString(count);
  TakeScreenshot(ArtifactName("four"), processes);

  // The top row's process ends above the selected, focused last row, in the list holding the focus: the
  // rows between are moved on screen, and only the selection's rows are repainted by the list view.
  SelectListViewRows(view, {3});
  ::PostMessageW(processes, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(view), TRUE);
  WaitForWindowIdle(processes);
  children_.End(top);
  ASSERT_TRUE(WaitUntil([&] { return ListViewRows(view, kColumns).size() == 3; }));
  EXPECT_TRUE(ScreenEqualsAFullRepaint(view)) << "after the top row's process ended";
  // Nothing selected, the focus in the filter box again, for what follows.
  SelectListViewRows(view, {});
  ::PostMessageW(processes, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(processes, IDC_PROCESS_FILTER)), TRUE);
  WaitForWindowIdle(processes);

  children_.End(ending);
  ASSERT_TRUE(WaitUntil([&] { return ListViewRows(view, kColumns).size() == 2; }));
  EXPECT_TRUE(ScreenEqualsAFullRepaint(view)) << "after the last row's process ended";
  TypeText(processes, IDC_PROCESS_FILTER, names_[listed]);
  ASSERT_TRUE(WaitUntil([&] { return ListViewRows(view, kColumns).size() == 1; }));
  EXPECT_TRUE(ScreenEqualsAFullRepaint(view)) << "after the filter hid the last row";
  TakeScreenshot(ArtifactName("one"), processes);

  // Add Name on a listed process and a new one.
  TypeText(processes, IDC_PROCESS_FILTER, ownSuffix);
  ASSERT_TRUE(WaitUntil([&] { return ListViewRows(view, kColumns).size() == 2; }));
  SelectListViewRows(view, {0, 1});
  ClickButton(processes, IDC_ADD_NAME);
  const HWND box = WaitForDialog(instance_->Id(), L"Tarnwick", main_);
  ASSERT_NE(box, nullptr) << "no box names the listed entry";
  EXPECT_EQ(::GetWindow(box, GW_OWNER), processes);
  EXPECT_THAT(StaticTextsOf(box), testing::Contains(names_[listed] + L" is already in the list."));
  EXPECT_THAT(ReadListFile(),
              testing::Optional(testing::UnorderedElementsAre(names_[top], names_[listed], names_[added])))
      << "the new entry is added before the box";
  ClickButton(box, IDOK);
  EXPECT_TRUE(WaitForWindowGone(box));
  EXPECT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == processes; })) << "the main window came forward";
}

using UiProcessesDark = ProcessesWindowTest;

TEST_F(UiProcessesDark, DarkScreenshot) {
  executable_ = ForcedDarkExePath();
  const size_t listed = StartChild(L"tw_e2e_dark");
  WriteListFile({names_[listed]});
  WriteRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"MethodCPUAffinity", 1);
  const HWND processes = OpenProcessesWindow();
  ASSERT_NE(processes, nullptr);
  const HWND view = ::GetDlgItem(processes, IDC_PROCESS_VIEW);
  ASSERT_FALSE(
      WaitForRow(view, names_[listed], [](const auto& row) { return row[CpuAffinities] == L"Placed"; }).empty());
  // The listed child's row selected, the focus in the filter box.
  SelectListViewRows(view, {0});
  ::PostMessageW(processes, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(processes, IDC_PROCESS_FILTER)), TRUE);
  WaitForWindowIdle(processes);
  // The header's right end (past the Path column's title), and the selected
  // row's PID cell left of its right-aligned number.
  const HWND header = ::FindWindowExW(view, nullptr, L"SysHeader32", nullptr);
  ASSERT_NE(header, nullptr);
  RECT headerArea = {};
  ::GetClientRect(header, &headerArea);
  RECT headerInView = {};
  ::GetWindowRect(header, &headerInView);
  ::MapWindowPoints(nullptr, view, reinterpret_cast<POINT*>(&headerInView), 2);
  const POINT headerPoint = {headerArea.right - 6, headerArea.bottom / 2};
  const POINT selectionPoint = {static_cast<LONG>(::MulDiv(140 + 8, ::GetDpiForWindow(view), 96)),
                                headerInView.bottom + 4};
  std::optional<COLORREF> headerColour, selectionColour;
  EXPECT_TRUE(WaitUntil([&] {
    const std::optional<WindowPicture> picture = CaptureWindowPicture(processes);
    if (!picture) return false;
    headerColour = picture->AtClient(header, headerPoint);
    selectionColour = picture->AtClient(view, selectionPoint);
    return headerColour == kDarkHeader && selectionColour == kDarkUnfocusedSelection;
  })) << "header "
      << std::hex << headerColour.value_or(0xFFFFFFFF) << ", selection " << selectionColour.value_or(0xFFFFFFFF);
  TakeScreenshot(ArtifactName("dark"));
}

}  // namespace
}  // namespace tarnwick::e2e
