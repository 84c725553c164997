// The Running processes window on the test's own thread, over rows the test
// publishes as the worker would: what the list view shows, the order, the
// filter, the selection across refreshes, the commands, and the size and
// column widths it keeps in the settings.
#include <windows.h>
#include <commctrl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "app/globals.h"
#include "config/settings_names.h"
#include "platform/gdi_scope.h"
#include "platform/unique_handle.h"
#include "res/resource.h"
#include "tests/fakes/fake_program_starter.h"
#include "tests/support/clipboard_text.h"
#include "tests/unit/canvas.h"
#include "tests/unit/dark_mode_fixture.h"
#include "tests/unit/process_result_rows.h"
#include "ui/messages.h"
#include "ui/processes_window.h"

namespace tarnwick {
namespace {

using ::testing::ElementsAre;

// The message boxes the window shows while one is installed, each answered
// at once with `answer`: who owns it and what it says. The box is made on
// the test's thread, so a CBT hook sees it before it shows.
class BoxAnswerer {
 public:
  struct Box {
    HWND owner = nullptr;
    std::wstring text;
  };
  explicit BoxAnswerer(int answer) : answer_(answer) {
    current_ = this;
    hook_ = ::SetWindowsHookExW(WH_CBT, Hook, nullptr, ::GetCurrentThreadId());
  }
  ~BoxAnswerer() {
    ::UnhookWindowsHookEx(hook_);
    current_ = nullptr;
  }
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;
  const std::vector<Box>& Boxes() const { return boxes_; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) noexcept {
    if (code == HCBT_ACTIVATE && current_ != nullptr) {
      HWND box = reinterpret_cast<HWND>(wParam);
      wchar_t className[32] = {};
      ::GetClassNameW(box, className, 32);
      // Wine activates a box more than once.
      const bool seenBefore = std::find(current_->seen_.begin(), current_->seen_.end(), box) != current_->seen_.end();
      wchar_t caption[32] = {};
      ::GetWindowTextW(box, caption, 32);
      if (std::wstring(className) == L"#32770" && std::wstring(caption) == L"Tarnwick" && !seenBefore) {
        current_->seen_.push_back(box);
        Box seen;
        seen.owner = ::GetWindow(box, GW_OWNER);
        // The message is the box's longest static text (the icon is a static too).
        ::EnumChildWindows(
            box,
            [](HWND child, LPARAM parameter) noexcept -> BOOL {
              wchar_t text[2048] = {};
              ::GetWindowTextW(child, text, 2048);
              auto* longest = reinterpret_cast<std::wstring*>(parameter);
              if (std::wstring(text).size() > longest->size()) *longest = text;
              return TRUE;
            },
            reinterpret_cast<LPARAM>(&seen.text));
        current_->boxes_.push_back(seen);
        ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(current_->answer_, BN_CLICKED), 0);
      }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
  }

  static inline BoxAnswerer* current_ = nullptr;
  int answer_;
  HHOOK hook_ = nullptr;
  std::vector<Box> boxes_;
  std::vector<HWND> seen_;
};

// Whether `window` (frame included) shows what a full repaint of it and its
// children would: nothing stale, nothing missing.
bool SameAsAFullRepaint(HWND window) {
  RECT frame = {};
  ::GetWindowRect(window, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  Canvas shown(width, height);
  ::BitBlt(shown.Dc(), 0, 0, width, height, window_dc(window, window_dc::whole_window).get(), 0, 0, SRCCOPY);
  ::RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Canvas repainted(width, height);
  ::BitBlt(repainted.Dc(), 0, 0, width, height, window_dc(window, window_dc::whole_window).get(), 0, 0, SRCCOPY);
  return shown.SamePixels(repainted);
}

// `count` rows, shown by name: proc0, proc1, proc10, proc100, proc101, ...
std::vector<ProcessResult> Rows(DWORD count) {
  std::vector<ProcessResult> many;
  for (DWORD id = 0; id < count; ++id) many.push_back(Row(100 + id, L"proc" + std::to_wstring(id) + L".exe"));
  return many;
}

// `rows` without the ones at the given positions, given in ascending order.
std::vector<ProcessResult> Without(std::vector<ProcessResult> rows, std::initializer_list<size_t> ended) {
  for (auto at = ended.end(); at != ended.begin();) rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(*--at));
  return rows;
}

// Publishes `rows` as the worker's pass does.
void PublishTo(PassResultsExchange& source, const std::vector<ProcessResult>& rows,
               const MethodsOn& on = {true, true, true}) {
  source.BeginPass();
  source.SetMethodsOn(on);
  uint32_t matched = 0;
  for (const ProcessResult& row : rows) {
    source.NextRow() = row;
    matched += row.matched ? 1 : 0;
  }
  source.Publish(static_cast<uint32_t>(rows.size()), matched);
}

class ProcessesWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnwick");
    UserSettings = std::make_unique<SettingsStore>(HKEY_CURRENT_USER);
  }
  void TearDown() override {
    if (HWND window = ProcessesWindow()) ::DestroyWindow(window);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnwick");
  }

  void Publish(const std::vector<ProcessResult>& rows, const MethodsOn& on = {true, true, true}) {
    PublishTo(source_, rows, on);
  }

  HWND Open() {
    ProcessesWindowList list;
    list.add = [this](HWND owner, std::span<const std::wstring> entries) {
      EXPECT_EQ(owner, window_);
      added_.emplace_back(entries.begin(), entries.end());
    };
    list.listed = [this] { return listed_; };
    list.remove = [this](HWND owner, const std::wstring& entry) {
      EXPECT_EQ(owner, window_);
      removed_.push_back(entry);
    };
    window_ = OpenProcessesWindow(nullptr, source_, std::move(list), *UserSettings);
    view_ = ::GetDlgItem(window_, IDC_PROCESS_VIEW);
    return window_;
  }

  std::wstring Cell(int row, int column) const {
    wchar_t text[512] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = static_cast<int>(std::size(text));
    ::SendMessageW(view_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
  }
  int Count() const { return static_cast<int>(::SendMessageW(view_, LVM_GETITEMCOUNT, 0, 0)); }
  // "name:pid" per shown row, top to bottom.
  std::vector<std::wstring> Shown() const {
    std::vector<std::wstring> shown;
    shown.reserve(Count());
    for (int row = 0; row < Count(); ++row) shown.push_back(Cell(row, 0) + L":" + Cell(row, 1));
    return shown;
  }
  std::vector<std::wstring> Selected() const {
    std::vector<std::wstring> selected;
    for (int row = 0; row < Count(); ++row) {
      if (::SendMessageW(view_, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) & LVIS_SELECTED) {
        selected.push_back(Cell(row, 0) + L":" + Cell(row, 1));
      }
    }
    return selected;
  }
  void Select(std::initializer_list<int> rows, int focus) {
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(view_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    for (int row : rows) {
      item.state = LVIS_SELECTED | (row == focus ? LVIS_FOCUSED : 0);
      ::SendMessageW(view_, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    }
  }
  void ClickHeader(int column) {
    NMLISTVIEW click = {};
    click.hdr = {view_, IDC_PROCESS_VIEW, static_cast<UINT>(LVN_COLUMNCLICK)};
    click.iItem = -1;
    click.iSubItem = column;
    ::SendMessageW(window_, WM_NOTIFY, IDC_PROCESS_VIEW, reinterpret_cast<LPARAM>(&click));
  }
  int SortArrow(int column) const {
    HWND header = reinterpret_cast<HWND>(::SendMessageW(view_, LVM_GETHEADER, 0, 0));
    HDITEMW item = {};
    item.mask = HDI_FORMAT;
    ::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
    return item.fmt & (HDF_SORTUP | HDF_SORTDOWN);
  }

  struct StoredSize {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pathColumn = 0;
  };
  // What the settings hold for the window's size and its Path column.
  static StoredSize Stored() {
    StoredSize stored;
    EXPECT_TRUE(UserSettings->ReadNumber(kProcessesWindowWidth, stored.width));
    EXPECT_TRUE(UserSettings->ReadNumber(kProcessesWindowHeight, stored.height));
    EXPECT_TRUE(UserSettings->ReadNumber(L"ProcessesColumn6Width", stored.pathColumn));
    return stored;
  }

  PassResultsExchange source_;
  HWND window_ = nullptr;
  HWND view_ = nullptr;
  std::vector<std::vector<std::wstring>> added_;
  std::vector<std::wstring> listed_;
  std::vector<std::wstring> removed_;
};

std::vector<ProcessResult> WithRows(std::vector<ProcessResult> rows, std::initializer_list<ProcessResult> more) {
  rows.insert(rows.end(), more);
  return rows;
}

const std::vector<ProcessResult> kRows = {
    Row(8, L"zeta.exe", L"", L"C:\\zeta.exe"),
    Row(12, L"game.exe", L"game.exe", L"C:\\Games\\game.exe", {kPlaced, kDenied, kUnsupported}),
    Row(30, L"anticheat.exe", L"C:\\Games\\*", L"", {kDenied, Failed(87), kNotRun}),
    Row(4, L"alpha.exe", L"", L"C:\\alpha.exe"),
};

TEST_F(ProcessesWindowTest, ShowsEveryProcessMatchedFirstWithTheTitlesOfTheStringTable) {
  Publish(kRows);
  ASSERT_NE(Open(), nullptr);
  HWND header = reinterpret_cast<HWND>(::SendMessageW(view_, LVM_GETHEADER, 0, 0));
  std::vector<std::wstring> titles;
  for (int column = 0; column < 7; ++column) {
    wchar_t text[64] = {};
    HDITEMW item = {};
    item.mask = HDI_TEXT;
    item.pszText = text;
    item.cchTextMax = 64;
    ::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
    titles.emplace_back(text);
  }
  EXPECT_THAT(titles, ElementsAre(L"Process", L"PID", L"Pattern", L"Efficiency Mode Off", L"CPU Affinities",
                                  L"CPU Sets", L"Path"));
  EXPECT_THAT(Shown(), ElementsAre(L"anticheat.exe:30", L"game.exe:12", L"alpha.exe:4", L"zeta.exe:8"));
  std::vector<std::wstring> anticheat, game;
  for (int column = 2; column < 7; ++column) anticheat.push_back(Cell(0, column));
  for (int column = 2; column < 7; ++column) game.push_back(Cell(1, column));
  EXPECT_THAT(anticheat, ElementsAre(L"C:\\Games\\*", L"Denied", L"Failed (87)", L"", L""));
  EXPECT_THAT(game, ElementsAre(L"game.exe", L"Placed", L"Denied", L"Not supported", L"C:\\Games\\game.exe"));
  EXPECT_EQ(::IsWindowEnabled(::GetDlgItem(window_, IDC_ADD_NAME)), FALSE) << "nothing selected yet";

  EXPECT_EQ(OpenProcessesWindow(nullptr, source_, {}, *UserSettings), window_) << "one window at a time";
}

TEST_F(ProcessesWindowTest, HeaderClicksSortWithAnArrowAndTheCheckBoxFilters) {
  Publish(kRows);
  ASSERT_NE(Open(), nullptr);
  ClickHeader(1);
  EXPECT_THAT(Shown(), ElementsAre(L"alpha.exe:4", L"zeta.exe:8", L"game.exe:12", L"anticheat.exe:30"));
  EXPECT_EQ(SortArrow(1), HDF_SORTUP);
  ClickHeader(1);
  EXPECT_THAT(Shown(), ElementsAre(L"anticheat.exe:30", L"game.exe:12", L"zeta.exe:8", L"alpha.exe:4"));
  EXPECT_EQ(SortArrow(1), HDF_SORTDOWN);
  ClickHeader(0);
  EXPECT_EQ(SortArrow(1), 0) << "the arrow moves to the new sort column";
  EXPECT_EQ(SortArrow(0), HDF_SORTUP);

  ::CheckDlgButton(window_, IDC_ONLY_MATCHED, BST_CHECKED);
  ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_ONLY_MATCHED, BN_CLICKED), 0);
  EXPECT_THAT(Shown(), ElementsAre(L"anticheat.exe:30", L"game.exe:12"));
  Publish(kRows);
  ::SendMessageW(window_, WMU_PASS_DONE, 0, 0);
  EXPECT_THAT(Shown(), ElementsAre(L"anticheat.exe:30", L"game.exe:12")) << "the filter holds across a refresh";
}

// A refresh keeps the selection and focus on their processes, whatever moved:
// a process that ended leaves the selection, one that started sorts in, an id
// reused by another program is not the selected process.
TEST_F(ProcessesWindowTest, ARefreshKeepsSelectionFocusAndScrollPosition) {
  std::vector<ProcessResult> many = kRows;
  for (DWORD id = 100; id < 400; ++id) many.push_back(Row(id, L"filler.exe"));
  Publish(many);
  ASSERT_NE(Open(), nullptr);
  ASSERT_EQ(Count(), 304);
  // Matched first, then by name and id: anticheat, game, alpha, the fillers, zeta.
  Select({1, 250, 303}, 250);
  ASSERT_THAT(Selected(), ElementsAre(L"game.exe:12", L"filler.exe:347", L"zeta.exe:8"));
  ::SendMessageW(view_, LVM_ENSUREVISIBLE, 250, FALSE);
  const LRESULT top = ::SendMessageW(view_, LVM_GETTOPINDEX, 0, 0);
  ASSERT_GT(top, 0);

  many.erase(many.begin());                                                          // zeta.exe 8 ended
  many[0] = Row(12, L"other.exe");                                                   // game.exe 12 ended, its id reused
  many.push_back(Row(2, L"aaa.exe", L"aaa.exe", L"", {kPlaced, kNotRun, kNotRun}));  // sorts in first
  Publish(many);
  ::SendMessageW(window_, WMU_PASS_DONE, 0, 0);
  EXPECT_THAT(Selected(), ElementsAre(L"filler.exe:347"));
  const int focused = static_cast<int>(::SendMessageW(view_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
  EXPECT_EQ(Cell(focused, 0) + L":" + Cell(focused, 1), L"filler.exe:347");
  EXPECT_EQ(::SendMessageW(view_, LVM_GETTOPINDEX, 0, 0), top);
  EXPECT_EQ(::IsWindowEnabled(::GetDlgItem(window_, IDC_ADD_NAME)), TRUE);
}

// A pass repaints only the rows whose content changed, and nothing when the
// rows on screen stayed the same. Rows that a process above them moved by a
// row are moved on screen: only the row that came into view is repainted.
TEST_F(ProcessesWindowTest, ARefreshRepaintsOnlyTheRowsThatChanged) {
  Publish(kRows);
  ASSERT_NE(Open(), nullptr);
  ::UpdateWindow(view_);
  auto rowRect = [this](int row) {
    RECT rect = {};
    rect.left = LVIR_BOUNDS;
    EXPECT_TRUE(::SendMessageW(view_, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect)));
    return rect;
  };
  auto invalid = [this](const RECT& rect) {
    HRGN update = ::CreateRectRgn(0, 0, 0, 0);
    const bool any = ::GetUpdateRgn(view_, update, FALSE) != NULLREGION && ::RectInRegion(update, &rect);
    ::DeleteObject(update);
    return any;
  };

  Publish(kRows);
  ::SendMessageW(window_, WMU_PASS_DONE, 0, 0);
  RECT nothing = {};
  EXPECT_FALSE(::GetUpdateRect(view_, &nothing, FALSE)) << "an unchanged pass repaints nothing";

  std::vector<ProcessResult> changed = kRows;
  changed[3].imagePath = L"C:\\moved\\alpha.exe";  // shown third: anticheat, game, alpha, zeta
  Publish(changed);
  ::SendMessageW(window_, WMU_PASS_DONE, 0, 0);
  EXPECT_TRUE(invalid(rowRect(2))) << "the changed row is repainted";
  EXPECT_FALSE(invalid(rowRect(0)));
  EXPECT_FALSE(invalid(rowRect(1)));
  EXPECT_FALSE(invalid(rowRect(3)));
  ::UpdateWindow(view_);
  EXPECT_EQ(Cell(2, 6), L"C:\\moved\\alpha.exe");
  ::DestroyWindow(window_);

  const std::vector<ProcessResult> thousand = Rows(1000);
  std::vector<ProcessResult> oneOnTop = thousand;
  oneOnTop.push_back(Row(99, L"proa.exe"));  // sorts first
  for (const bool ends : {true, false}) {
    SCOPED_TRACE(ends ? "the top row ends" : "a row starts on top");
    Publish(thousand);
    ASSERT_NE(Open(), nullptr);
    ::UpdateWindow(window_);
    const int page = static_cast<int>(::SendMessageW(view_, LVM_GETCOUNTPERPAGE, 0, 0));
    ASSERT_GT(page, 3);
    Publish(ends ? Without(thousand, {0}) : oneOnTop);
    ::SendMessageW(window_, WMU_PASS_DONE, 0, 0);
    // A row ending on top brings the row below the page into view: the
    // ground the move uncovers reaches into the last whole row.
    const int cameIntoView = ends ? page - 1 : 0;
    EXPECT_TRUE(invalid(rowRect(cameIntoView)));
    for (int row = ends ? 0 : 1; row < (ends ? page - 1 : page); ++row) {
      EXPECT_FALSE(invalid(rowRect(row))) << "row " << row << " was moved, not repainted";
    }
    ::DestroyWindow(window_);
  }
}

// A pass leaves on screen what a full repaint would paint: the rows, the
// header and the scroll bars, whether a bar stays, moves its thumb, comes or
// goes, whether rows below a process that started or ended were moved, and
// whether a paint was still waiting.
TEST_F(ProcessesWindowTest, APassLeavesTheScreenAsAFullRepaintWould) {
  auto with = [](std::vector<ProcessResult> many, std::initializer_list<ProcessResult> started) {
    many.insert(many.end(), started);
    return many;
  };
  const std::vector<ProcessResult> thousand = Rows(1000);
  struct Case {
    const char* name;
    std::vector<ProcessResult> before;
    std::vector<ProcessResult> after;
    int scrollTo = -1;                     // a row scrolled into view before the pass
    bool paintedBefore = true;             // false: the window's first paint still waits
    int selected = -1;                     // a row selected before the pass
    bool onlyMatchedAfter = false;         // "Only matched processes" ticked instead of a pass
    const wchar_t* filterAfter = nullptr;  // typed into the filter box instead of a pass
    int focused = -1;                      // another row focused before the pass, the list holding the keyboard focus
    int scrollRight = 0;                   // pixels the list is scrolled to the right before the pass
  };
  // Twelve rows, the first three matched: matched first, the others after.
  std::vector<ProcessResult> someMatched = Rows(12);
  for (size_t i = 0; i < 3; ++i) {
    someMatched[i].matched = true;
    someMatched[i].pattern = L"proc*";
  }
  const Case cases[] = {
      {"one more", thousand, Rows(1001)},
      {"the thumb grows", thousand, Rows(300)},
      {"the end shrinks", thousand, Rows(990), 999},
      {"a bar comes", Rows(3), thousand},
      {"the bar goes", thousand, Rows(3)},
      {"unpainted", thousand, Rows(1001), -1, false},
      {"the top row ends", thousand, Without(thousand, {0})},
      {"a row starts on top", thousand, with(thousand, {Row(99, L"proa.exe")})},
      {"two rows end, one starts", thousand, with(Without(thousand, {10, 101}), {Row(98, L"proc1000a.exe")})},
      {"the top row ends below a selection", thousand, Without(thousand, {0}), -1, true, 4},
      {"a row ends mid-page while scrolled", thousand, Without(thousand, {500}), 510, true, 505},
      // Rows that move by whole rows are moved on screen: the selection and the focus go where their
      // rows are drawn, whatever the rows' offset and number.
      {.name = "the top row ends below a selection and the focus in the list",
       .before = thousand,
       .after = Without(thousand, {0}),
       .selected = 4,
       .focused = 9},
      {.name = "a row starts on top above a selection and the focus in the list",
       .before = thousand,
       .after = with(thousand, {Row(99, L"proa.exe")}),
       .selected = 4,
       .focused = 9},
      {.name = "rows end on top and mid-page",
       .before = thousand,
       .after = Without(thousand, {0, 1, 105}),
       .selected = 14,
       .focused = 13},
      {.name = "the top row ends while scrolled right",
       .before = thousand,
       .after = Without(thousand, {0}),
       .selected = 4,
       .scrollRight = 150},
      {.name = "the top row of a list shorter than the page ends, one starts at its end",
       .before = Rows(9),
       .after = with(Without(Rows(9), {0}), {Row(98, L"proc9.exe")}),
       .selected = 3,
       .focused = 5},
      // Rows gone from the end of a list shorter than the page: nothing may stay below the new last row.
      {"the last row ends", Rows(9), Rows(8)},
      {"the last rows end, with a selection", Rows(12), Rows(5), -1, true, 3},
      {"only matched hides the rows at the end", someMatched, someMatched, -1, true, -1, true},
      {"the filter hides the rows at the end", Rows(12), Rows(12), -1, true, -1, false, L"proc1"},
  };
  for (const Case& change : cases) {
    SCOPED_TRACE(change.name);
    Publish(change.before);
    ASSERT_NE(Open(), nullptr);
    if (change.paintedBefore) ::UpdateWindow(window_);
    if (change.scrollTo >= 0) ::SendMessageW(view_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(change.scrollTo), FALSE);
    if (change.selected >= 0) Select({change.selected}, change.selected);
    if (change.focused >= 0) {
      ::SetFocus(view_);
      ASSERT_EQ(::GetFocus(), view_);
      LVITEMW focus = {};
      focus.stateMask = LVIS_FOCUSED;
      focus.state = LVIS_FOCUSED;
      ::SendMessageW(view_, LVM_SETITEMSTATE, static_cast<WPARAM>(change.focused), reinterpret_cast<LPARAM>(&focus));
    }
    if (change.scrollRight > 0) ::SendMessageW(view_, LVM_SCROLL, static_cast<WPARAM>(change.scrollRight), 0);
    if (change.paintedBefore) ::UpdateWindow(window_);

    if (change.onlyMatchedAfter) {
      ::CheckDlgButton(window_, IDC_ONLY_MATCHED, BST_CHECKED);
      ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_ONLY_MATCHED, BN_CLICKED), 0);
    } else if (change.filterAfter != nullptr) {
      ::SetDlgItemTextW(window_, IDC_PROCESS_FILTER, change.filterAfter);
    } else {
      Publish(change.after);
      ::SendMessageW(window_, WMU_PASS_DONE, 0, 0);
    }
    ::UpdateWindow(window_);
    EXPECT_TRUE(SameAsAFullRepaint(view_));
    if (!change.onlyMatchedAfter && change.filterAfter == nullptr) {
      EXPECT_EQ(Count(), static_cast<int>(change.after.size()));
    }
    ::DestroyWindow(window_);
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnwick");  // the check box is remembered
}

// A frame paint redraws both scroll bars, which costs more than the rest of
// a refresh: a count change repaints the frame only when a bar looks different.
TEST_F(ProcessesWindowTest, ACountChangeRepaintsTheFrameOnlyWhenABarChanged) {
  struct Case {
    const char* name;
    DWORD after;
    bool framePainted;
  };
  for (const Case& change : {Case{"one fewer", 999, false}, Case{"one more", 1001, false},
                             Case{"the thumb grows", 300, true}, Case{"the bar goes", 3, true}}) {
    SCOPED_TRACE(change.name);
    Publish(Rows(1000));
    ASSERT_NE(Open(), nullptr);
    ::UpdateWindow(window_);
    int framePaints = 0;
    ASSERT_TRUE(::SetWindowSubclass(view_, CountFramePaints, 1, reinterpret_cast<DWORD_PTR>(&framePaints)));
    Publish(Rows(change.after));
    ::SendMessageW(window_, WMU_PASS_DONE, 0, 0);
    // A frame paint left waiting comes with the next paint of the rows.
    ::InvalidateRect(view_, nullptr, FALSE);
    ::UpdateWindow(window_);
    EXPECT_EQ(framePaints > 0, change.framePainted) << framePaints << " frame paints";
    ::RemoveWindowSubclass(view_, CountFramePaints, 1);
    ::DestroyWindow(window_);
  }
}

TEST_F(ProcessesWindowTest, AddNameAddPathAndCopyUseTheSelectedRows) {
  Publish(kRows);
  ASSERT_NE(Open(), nullptr);
  Select({1, 3, 2}, 1);  // game.exe, zeta.exe, alpha.exe in display order
  // The selected processes end before the click: their names still serve.
  Publish({});
  {
    const BoxAnswerer yes(IDYES);
    ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_ADD_NAME, BN_CLICKED), 0);
    ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_ADD_PATH, BN_CLICKED), 0);
    ASSERT_EQ(yes.Boxes().size(), 2u);
    EXPECT_THAT(yes.Boxes()[0].text, ::testing::StartsWith(L"Add 3 entries to the list?"));
  }
  EXPECT_THAT(added_, ElementsAre(ElementsAre(L"game.exe", L"alpha.exe", L"zeta.exe"),
                                  ElementsAre(L"C:\\Games\\game.exe", L"C:\\alpha.exe", L"C:\\zeta.exe")));

  BYTE keys[256] = {};
  ASSERT_TRUE(::GetKeyboardState(keys));
  keys[VK_CONTROL] = 0x80;
  ASSERT_TRUE(::SetKeyboardState(keys));
  ::SendMessageW(view_, WM_KEYDOWN, 'C', 0);
  keys[VK_CONTROL] = 0;
  ::SetKeyboardState(keys);
  EXPECT_EQ(ClipboardText(),
            L"Process\tPID\tPattern\tEfficiency Mode Off\tCPU Affinities\tCPU Sets\tPath\r\n"
            L"game.exe\t12\tgame.exe\tPlaced\tDenied\tNot supported\tC:\\Games\\game.exe\r\n"
            L"alpha.exe\t4\t\t\t\t\tC:\\alpha.exe\r\n"
            L"zeta.exe\t8\t\t\t\t\tC:\\zeta.exe\r\n");

  ::SendMessageW(window_, WM_COMMAND, IDCANCEL, 0);
  EXPECT_FALSE(::IsWindow(window_)) << "Escape closes the window";
  EXPECT_EQ(ProcessesWindow(), nullptr);
}

// A clipboard viewer or history tool holds the clipboard open for a moment
// after every change: a copy waits for it, and gives up without hanging the
// window when it is held on.
TEST_F(ProcessesWindowTest, ACopyWaitsAMomentForTheClipboardAnotherProgramHolds) {
  Publish(kRows);
  ASSERT_NE(Open(), nullptr);
  Select({2}, 2);  // alpha.exe
  const std::wstring copied =
      L"Process\tPID\tPattern\tEfficiency Mode Off\tCPU Affinities\tCPU Sets\tPath\r\n"
      L"alpha.exe\t4\t\t\t\t\tC:\\alpha.exe\r\n";
  // Another thread stands in for the other program: it opens the clipboard,
  // puts `text` on it, says so, and keeps it open until `release` is set.
  struct Holder {
    unique_handle opened{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    unique_handle release{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::thread thread;
    explicit Holder(const wchar_t* text) {
      thread = std::thread([this, text] {
        if (::OpenClipboard(nullptr)) {
          ::EmptyClipboard();
          const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
          unique_hglobal memory(::GlobalAlloc(GMEM_MOVEABLE, bytes));
          if (void* target = memory ? ::GlobalLock(memory.get()) : nullptr) {
            std::memcpy(target, text, bytes);
            ::GlobalUnlock(memory.get());
            if (::SetClipboardData(CF_UNICODETEXT, memory.get()) != nullptr) (void)memory.release();
          }
          ::SetEvent(opened.get());
          ::WaitForSingleObject(release.get(), 30000);
          ::CloseClipboard();
        }
        ::SetEvent(opened.get());
      });
    }
    ~Holder() {
      ::SetEvent(release.get());
      thread.join();
    }
  };

  {
    Holder holder(L"held");
    ASSERT_EQ(::WaitForSingleObject(holder.opened.get(), 10000), WAIT_OBJECT_0);
    // Let go a moment after the copy begins, well within its patience.
    std::thread letGo([&holder] {
      ::Sleep(50);
      ::SetEvent(holder.release.get());
    });
    ::SendMessageW(window_, WM_COMMAND, IDM_COPY_ROWS, 0);
    letGo.join();
  }
  EXPECT_EQ(ClipboardText(), copied) << "the copy waited for the clipboard";

  {
    Holder holder(L"held on");
    ASSERT_EQ(::WaitForSingleObject(holder.opened.get(), 10000), WAIT_OBJECT_0);
    ::SendMessageW(window_, WM_COMMAND, IDM_COPY_ROWS, 0);  // returns: the copy gave up
  }
  EXPECT_EQ(ClipboardText(), L"held on") << "nothing was copied over what the other program put there";
}

// A cell cut to the list view's buffer never ends in half a surrogate pair.
TEST_F(ProcessesWindowTest, ACellCutToTheBufferKeepsSurrogatePairsWhole) {
  const std::wstring name = L"ab\U0001F3AE.exe";  // a, b, then a pair
  Publish({Row(7, name, L"", L"C:\\" + name)});
  ASSERT_NE(Open(), nullptr);
  auto cellIn = [&](int characters) {
    std::vector<wchar_t> text(static_cast<size_t>(characters), L'#');
    LVITEMW item = {};
    item.iSubItem = 0;
    item.pszText = text.data();
    item.cchTextMax = characters;
    ::SendMessageW(view_, LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&item));
    return std::wstring(item.pszText);
  };
  EXPECT_EQ(cellIn(4), L"ab") << "room for the pair's first half only";
  EXPECT_EQ(cellIn(5), L"ab\U0001F3AE");
  EXPECT_EQ(cellIn(3), L"ab");
  EXPECT_EQ(cellIn(64), name);
}

TEST_F(ProcessesWindowTest, RemembersItsSizeAndColumnWidthsAndIgnoresOddValues) {
  ASSERT_NE(Open(), nullptr);
  ::SetWindowPos(window_, nullptr, 0, 0, 700, 420, SWP_NOMOVE | SWP_NOZORDER);
  ::SendMessageW(view_, LVM_SETCOLUMNWIDTH, 6, 450);
  ::DestroyWindow(window_);
  // At 96 DPI, the settings hold pixels.
  const StoredSize stored = Stored();
  EXPECT_EQ(stored.width, 700u);
  EXPECT_EQ(stored.height, 420u);
  EXPECT_EQ(stored.pathColumn, 450u);

  ASSERT_NE(Open(), nullptr);
  RECT frame = {};
  ::GetWindowRect(window_, &frame);
  EXPECT_EQ(frame.right - frame.left, 700);
  EXPECT_EQ(frame.bottom - frame.top, 420);
  EXPECT_EQ(::SendMessageW(view_, LVM_GETCOLUMNWIDTH, 6, 0), 450);
  const LRESULT defaultPid = 60;
  ::DestroyWindow(window_);

  // A hand-edited or damaged store: sizes of 0, of 4 billion, and a column of 1 pixel.
  UserSettings->WriteValue(kProcessesWindowWidth, 0);
  UserSettings->WriteValue(kProcessesWindowHeight, 0xFFFFFFFF);
  UserSettings->WriteValue(L"ProcessesColumn1Width", 1);
  ASSERT_NE(Open(), nullptr);
  ::GetWindowRect(window_, &frame);
  EXPECT_GT(frame.right - frame.left, 200) << "the template's size";
  EXPECT_LT(frame.bottom - frame.top, 2000);
  EXPECT_EQ(::SendMessageW(view_, LVM_GETCOLUMNWIDTH, 1, 0), defaultPid);
}

// Moved to a screen of twice the DPI, the window takes the size the system
// suggests and doubles its columns; what it stores stays at 96 DPI.
TEST_F(ProcessesWindowTest, ColumnsFollowTheWindowsDpiAndAreStoredAt96) {
  ASSERT_NE(Open(), nullptr);
  ::SendMessageW(view_, LVM_SETCOLUMNWIDTH, 6, 300);
  const LRESULT pid = ::SendMessageW(view_, LVM_GETCOLUMNWIDTH, 1, 0);
  RECT suggested = {10, 20, 10 + 1000, 20 + 700};
  ::SendMessageW(window_, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(::SendMessageW(view_, LVM_GETCOLUMNWIDTH, 6, 0), 600);
  EXPECT_EQ(::SendMessageW(view_, LVM_GETCOLUMNWIDTH, 1, 0), 2 * pid);
  RECT frame = {};
  ::GetWindowRect(window_, &frame);
  EXPECT_EQ(frame.right - frame.left, 1000);
  EXPECT_EQ(frame.bottom - frame.top, 700);
  ::DestroyWindow(window_);

  const StoredSize stored = Stored();
  EXPECT_EQ(stored.width, 500u);
  EXPECT_EQ(stored.height, 350u);
  EXPECT_EQ(stored.pathColumn, 300u);
}

// The screen of the whole window, frame included, equals a full repaint
// after the window grew: every control drawn at its new place.
TEST_F(ProcessesWindowTest, ControlsAreDrawnAtTheirNewPlaceWhenTheWindowGrows) {
  Publish(kRows);
  for (const bool maximise : {false, true}) {
    SCOPED_TRACE(maximise ? "maximised" : "a corner dragged");
    ASSERT_NE(Open(), nullptr);
    ::SetWindowPos(window_, nullptr, 0, 0, 500, 320, SWP_NOZORDER);
    ::UpdateWindow(window_);
    if (maximise) {
      ::ShowWindow(window_, SW_MAXIMIZE);
    } else {
      // A drag grows the window in steps, each painted before the next.
      for (int step = 1; step <= 4; ++step) {
        ::SetWindowPos(window_, nullptr, 0, 0, 500 + 60 * step, 320 + 40 * step, SWP_NOMOVE | SWP_NOZORDER);
        ::UpdateWindow(window_);
      }
    }
    ::UpdateWindow(window_);
    EXPECT_TRUE(SameAsAFullRepaint(window_));
    ::DestroyWindow(window_);
  }
}

// At its smallest the window still shows every control whole: the check
// box's label beside the buttons, the label beside the filter box, some rows.
TEST_F(ProcessesWindowTest, TheSmallestSizeShowsEveryControlWhole) {
  ASSERT_NE(Open(), nullptr);
  ::SetWindowPos(window_, nullptr, 0, 0, 50, 50, SWP_NOMOVE | SWP_NOZORDER);
  auto place = [this](int id) {
    RECT rect = {};
    ::GetWindowRect(::GetDlgItem(window_, id), &rect);
    ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  };
  // What the check box's label needs: its text in its font, beside the box.
  HWND check = ::GetDlgItem(window_, IDC_ONLY_MATCHED);
  HDC dc = ::GetDC(check);
  const HGDIOBJ former = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(check, WM_GETFONT, 0, 0)));
  SIZE text = {};
  ::GetTextExtentPoint32W(dc, L"Only matched processes", 22, &text);
  ::SelectObject(dc, former);
  ::ReleaseDC(check, dc);
  const RECT checkBox = place(IDC_ONLY_MATCHED);
  EXPECT_GE(checkBox.right - checkBox.left, text.cx + ::GetSystemMetrics(SM_CXMENUCHECK));
  EXPECT_LE(checkBox.right, place(IDC_ADD_NAME).left);
  EXPECT_LE(place(IDC_PROCESS_VIEW_LABEL).right, place(IDC_PROCESS_FILTER).left);
  EXPECT_GT(place(IDC_PROCESS_FILTER).right - place(IDC_PROCESS_FILTER).left, text.cx / 3);
  const RECT view = place(IDC_PROCESS_VIEW);
  EXPECT_GT(view.bottom - view.top, 4 * text.cy) << "a few rows under the header";
  EXPECT_LE(view.bottom, place(IDC_PROCESS_COUNT).top);
  RECT client = {};
  ::GetClientRect(window_, &client);
  EXPECT_LE(place(IDCANCEL).right, client.right);
  EXPECT_LE(place(IDCANCEL).bottom, client.bottom);
  EXPECT_GE(place(IDC_ONLY_MATCHED).left, 0);
}

// Adding rows of which some are listed already: the new ones are added
// after one question that names the listed ones; one new entry is added at
// once and the listed ones are said; every box is the window's own, and the
// window is active again after it, whatever the add brought forward.
TEST_F(ProcessesWindowTest, APartlyListedAddNamesTheListedAndComesBack) {
  Publish(kRows);
  ASSERT_NE(Open(), nullptr);
  // The main window comes forward while it adds, as a box of its own would bring it.
  HWND mainWindow =
      ::CreateWindowExW(0, L"STATIC", L"main", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(mainWindow, nullptr);
  ProcessesWindowList list;
  std::vector<std::vector<std::wstring>> added;
  // A second window over the same rows is not possible: reopen with the stand-in main window.
  ::DestroyWindow(window_);
  list.add = [&](HWND owner, std::span<const std::wstring> entries) {
    EXPECT_EQ(owner, window_);
    added.emplace_back(entries.begin(), entries.end());
    ::SetActiveWindow(mainWindow);
  };
  list.listed = [] { return std::vector<std::wstring>{L"GAME.EXE", L"zeta.exe"}; };
  window_ = OpenProcessesWindow(nullptr, source_, list, *UserSettings);
  view_ = ::GetDlgItem(window_, IDC_PROCESS_VIEW);
  ASSERT_NE(window_, nullptr);

  Select({1, 2, 3}, 1);  // game.exe (listed), alpha.exe, zeta.exe (listed)
  {
    const BoxAnswerer yes(IDYES);
    ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_ADD_NAME, BN_CLICKED), 0);
    ASSERT_EQ(yes.Boxes().size(), 1u);
    EXPECT_EQ(yes.Boxes()[0].owner, window_);
    EXPECT_EQ(yes.Boxes()[0].text, L"Already in the list:\ngame.exe\nzeta.exe") << "one new entry: no question";
  }
  EXPECT_THAT(added, ElementsAre(ElementsAre(L"alpha.exe")));
  EXPECT_EQ(::GetActiveWindow(), window_);

  Publish(WithRows(kRows, {Row(40, L"beta.exe", L"", L"C:\\beta.exe")}));
  ::SendMessageW(window_, WMU_PASS_DONE, 0, 0);
  Select({0, 1, 2, 3, 4}, 0);  // anticheat, game (listed), alpha, beta, zeta (listed)
  added.clear();
  {
    const BoxAnswerer no(IDNO);
    ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_ADD_NAME, BN_CLICKED), 0);
    ASSERT_EQ(no.Boxes().size(), 1u);
    EXPECT_EQ(no.Boxes()[0].owner, window_);
    EXPECT_EQ(no.Boxes()[0].text,
              L"Add 3 entries to the list?\nanticheat.exe\nalpha.exe\nbeta.exe\n\nAlready in the list:\ngame.exe\n"
              L"zeta.exe");
  }
  EXPECT_TRUE(added.empty()) << "No adds nothing";
  EXPECT_EQ(::GetActiveWindow(), window_);
  {
    const BoxAnswerer yes(IDYES);
    ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_ADD_NAME, BN_CLICKED), 0);
    EXPECT_EQ(yes.Boxes().size(), 1u) << "the question says it all: no second box";
  }
  EXPECT_THAT(added, ElementsAre(ElementsAre(L"anticheat.exe", L"alpha.exe", L"beta.exe")));
  EXPECT_EQ(::GetActiveWindow(), window_);
  ::DestroyWindow(window_);
  ::DestroyWindow(mainWindow);
}

// A name holding ';' is added as a pattern that matches it, and the box says so.
TEST_F(ProcessesWindowTest, ANameWithASemicolonIsSaidToBeListedWithAQuestionMark) {
  Publish({Row(5, L"a;b.exe")});
  ASSERT_NE(Open(), nullptr);
  Select({0}, 0);
  const BoxAnswerer ok(IDOK);
  ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_ADD_NAME, BN_CLICKED), 0);
  EXPECT_THAT(added_, ElementsAre(ElementsAre(L"a?b.exe")));
  ASSERT_EQ(ok.Boxes().size(), 1u);
  EXPECT_THAT(ok.Boxes()[0].text, ::testing::StartsWith(L"a;b.exe is listed as a?b.exe"));
  EXPECT_EQ(ok.Boxes()[0].owner, window_);
}

// When the focused, selected process ends, its neighbour below takes the
// focus and the selection, and Down goes on from there.
TEST_F(ProcessesWindowTest, WhenTheSelectedProcessEndsItsNeighbourTakesFocusAndSelection) {
  const std::vector<ProcessResult> rows = Rows(20);
  Publish(rows);
  ASSERT_NE(Open(), nullptr);
  ::SetFocus(view_);
  Select({5}, 5);
  const std::vector<std::wstring> before = Shown();
  std::vector<ProcessResult> after;
  for (const ProcessResult& row : rows) {
    if (row.fileName + L":" + std::to_wstring(row.processId) != before[5]) after.push_back(row);
  }
  Publish(after);
  ::SendMessageW(window_, WMU_PASS_DONE, 0, 0);
  auto focused = [this] {
    const int row = static_cast<int>(::SendMessageW(view_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    return row < 0 ? std::wstring(L"none") : Cell(row, 0) + L":" + Cell(row, 1);
  };
  EXPECT_EQ(focused(), before[6]);
  EXPECT_THAT(Selected(), ElementsAre(before[6]));
  ::SendMessageW(view_, WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(focused(), before[7]) << "Down goes on from the neighbour, not from the top";

  // The last row ends: the one above it takes over.
  Select({18}, 18);
  const std::vector<std::wstring> shownBefore = Shown();
  after.erase(std::find_if(after.begin(), after.end(), [&](const ProcessResult& row) {
    return row.fileName + L":" + std::to_wstring(row.processId) == shownBefore[18];
  }));
  Publish(after);
  ::SendMessageW(window_, WMU_PASS_DONE, 0, 0);
  EXPECT_EQ(focused(), shownBefore[17]);
  EXPECT_THAT(Selected(), ElementsAre(shownBefore[17]));
}

// The filter box narrows the rows as the user types, the count line says
// how many are shown, and Escape in the box empties it (and only then closes).
TEST_F(ProcessesWindowTest, TheFilterBoxNarrowsTheRowsAndTheCountLineSaysHowMany) {
  Publish(kRows);
  ASSERT_NE(Open(), nullptr);
  HWND filter = ::GetDlgItem(window_, IDC_PROCESS_FILTER);
  wchar_t cue[32] = {};
  ::SendMessageW(filter, EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), 32);
  EXPECT_STREQ(cue, L"Filter");
  auto countLine = [this] {
    wchar_t text[128] = {};
    ::GetDlgItemTextW(window_, IDC_PROCESS_COUNT, text, 128);
    return std::wstring(text);
  };
  EXPECT_EQ(countLine(), L"4 processes, 2 matched, 4 shown");
  ::SetWindowTextW(filter, L"GAME");
  EXPECT_THAT(Shown(), ElementsAre(L"anticheat.exe:30", L"game.exe:12"));
  EXPECT_EQ(countLine(), L"4 processes, 2 matched, 2 shown");
  ::SetWindowTextW(filter, L"alpha");
  ::CheckDlgButton(window_, IDC_ONLY_MATCHED, BST_CHECKED);
  ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_ONLY_MATCHED, BN_CLICKED), 0);
  EXPECT_EQ(Count(), 0) << "both narrow the rows";
  EXPECT_EQ(countLine(), L"4 processes, 2 matched, 0 shown");

  // Escape reaches the box through the dialog manager, as a key press does.
  MSG escape = {filter, WM_KEYDOWN, VK_ESCAPE, 0, 0, {0, 0}};
  EXPECT_TRUE(::IsDialogMessageW(window_, &escape));
  EXPECT_EQ(::GetWindowTextLengthW(filter), 0);
  EXPECT_TRUE(::IsWindow(window_)) << "the first Escape only empties the box";
  EXPECT_THAT(Shown(), ElementsAre(L"anticheat.exe:30", L"game.exe:12"));
  ::IsDialogMessageW(window_, &escape);
  EXPECT_FALSE(::IsWindow(window_)) << "Escape in the empty box closes the window";
}

// Typing selects the next row whose sort column starts with the letters.
TEST_F(ProcessesWindowTest, TypingSelectsTheNextRowStartingWithTheLetters) {
  Publish(kRows);  // anticheat 30, game 12 (matched), alpha 4, zeta 8
  ASSERT_NE(Open(), nullptr);
  ::SetFocus(view_);
  // One key press each (the repeat count is 1).
  ::SendMessageW(view_, WM_CHAR, 'z', 1);
  EXPECT_THAT(Selected(), ElementsAre(L"zeta.exe:8"));
  // Letters typed within a second make one word: a new window starts afresh.
  ::DestroyWindow(window_);
  ASSERT_NE(Open(), nullptr);
  ::SetFocus(view_);
  ClickHeader(1);  // by PID: alpha 4, zeta 8, game 12, anticheat 30
  ::SendMessageW(view_, WM_CHAR, '3', 1);
  EXPECT_THAT(Selected(), ElementsAre(L"anticheat.exe:30"));
}

// Double-click does what Enter does (Add Name); Remove From List takes the
// matched row's pattern out of the list.
TEST_F(ProcessesWindowTest, DoubleClickAddsAndRemoveFromListRemovesThePattern) {
  Publish(kRows);
  ASSERT_NE(Open(), nullptr);
  Select({2}, 2);  // alpha.exe
  NMITEMACTIVATE click = {};
  click.hdr = {view_, IDC_PROCESS_VIEW, static_cast<UINT>(NM_DBLCLK)};
  click.iItem = 2;
  ::SendMessageW(window_, WM_NOTIFY, IDC_PROCESS_VIEW, reinterpret_cast<LPARAM>(&click));
  EXPECT_THAT(added_, ElementsAre(ElementsAre(L"alpha.exe")));

  Select({1}, 1);  // game.exe, matched by game.exe, the only process it matches
  const BoxAnswerer no(IDNO);
  ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDM_REMOVE_FROM_LIST, 0), 0);
  EXPECT_THAT(removed_, ElementsAre(L"game.exe"));
  EXPECT_TRUE(no.Boxes().empty()) << "nothing else matches it: no question";
}

// Open File Location shows the selected process's file through the starter,
// which opens it as the desktop's user; when it cannot, the user is told.
TEST_F(ProcessesWindowTest, OpenFileLocationShowsTheFileAsTheDesktopsUser) {
  Publish(kRows);
  FakeProgramStarter starter;
  ProcessesWindowList list;
  list.starter = &starter;
  window_ = OpenProcessesWindow(nullptr, source_, list, *UserSettings);
  ASSERT_NE(window_, nullptr);
  view_ = ::GetDlgItem(window_, IDC_PROCESS_VIEW);
  Select({1}, 1);  // game.exe
  ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDM_OPEN_FILE_LOCATION, 0), 0);
  ASSERT_EQ(starter.calls.size(), 1u);
  EXPECT_EQ(starter.calls[0].how, FakeProgramStarter::How::FileInFolder);
  EXPECT_EQ(starter.calls[0].path, L"C:\\Games\\game.exe");

  starter.opensPages = false;
  const BoxAnswerer ok(IDOK);
  ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDM_OPEN_FILE_LOCATION, 0), 0);
  ASSERT_EQ(ok.Boxes().size(), 1u);
  EXPECT_EQ(ok.Boxes()[0].owner, window_);
  EXPECT_THAT(ok.Boxes()[0].text, ::testing::EndsWith(L"C:\\Games\\game.exe"));
  Select({0}, 0);  // anticheat.exe: no path known
  ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDM_OPEN_FILE_LOCATION, 0), 0);
  EXPECT_EQ(starter.calls.size(), 2u) << "nothing to show";
}

// The sort, the check box and the place are kept with the size; the default
// order comes back from the menu.
TEST_F(ProcessesWindowTest, RemembersSortCheckBoxAndPlace) {
  Publish(kRows);
  ASSERT_NE(Open(), nullptr);
  ::SetWindowPos(window_, nullptr, 40, 50, 640, 400, SWP_NOZORDER);
  ClickHeader(1);
  ClickHeader(1);  // by PID, descending
  ::CheckDlgButton(window_, IDC_ONLY_MATCHED, BST_CHECKED);
  ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDC_ONLY_MATCHED, BN_CLICKED), 0);
  ::DestroyWindow(window_);

  ASSERT_NE(Open(), nullptr);
  EXPECT_THAT(Shown(), ElementsAre(L"anticheat.exe:30", L"game.exe:12"));
  EXPECT_EQ(SortArrow(1), HDF_SORTDOWN);
  EXPECT_EQ(::IsDlgButtonChecked(window_, IDC_ONLY_MATCHED), static_cast<UINT>(BST_CHECKED));
  RECT frame = {};
  ::GetWindowRect(window_, &frame);
  EXPECT_EQ(frame.left, 40);
  EXPECT_EQ(frame.top, 50);
  ::SendMessageW(window_, WM_COMMAND, MAKEWPARAM(IDM_DEFAULT_ORDER, 0), 0);
  EXPECT_EQ(SortArrow(1), 0);
  EXPECT_THAT(Shown(), ElementsAre(L"anticheat.exe:30", L"game.exe:12"));
  ::DestroyWindow(window_);

  // A place on no screen (a monitor since unplugged) is not used.
  UserSettings->WriteValue(kProcessesWindowLeft, static_cast<uint32_t>(-30000));
  ASSERT_NE(Open(), nullptr);
  ::GetWindowRect(window_, &frame);
  EXPECT_GE(frame.left, 0);
}

// A method switched off reads "Off" on matched rows; switching it on again
// changes no row, yet the words on screen follow at the next pass.
TEST_F(ProcessesWindowTest, AMethodSwitchedOffReadsOffOnMatchedRows) {
  Publish(kRows, {true, false, false});
  ASSERT_NE(Open(), nullptr);
  ::UpdateWindow(window_);
  EXPECT_EQ(Cell(1, 4), L"Denied") << "game.exe: what the last call did";
  EXPECT_EQ(Cell(0, 5), L"Off") << "anticheat.exe: CPU sets are off";
  EXPECT_EQ(Cell(2, 5), L"") << "alpha.exe is not matched";
  Publish(kRows, {true, false, true});
  ::SendMessageW(window_, WMU_PASS_DONE, 0, 0);
  RECT update = {};
  EXPECT_TRUE(::GetUpdateRect(view_, &update, FALSE)) << "the rows are repainted with their new words";
  EXPECT_EQ(Cell(0, 5), L"");
}

// The tip over a cell: a method cell explains its word, with the system's
// message for a failure; a cell the column cuts off shows its whole text;
// other cells show none.
TEST_F(ProcessesWindowTest, CellTipsExplainMethodsAndShowCutOffText) {
  Publish(kRows);  // anticheat 30 (Denied, Failed (87)), game 12, alpha 4, zeta 8
  ASSERT_NE(Open(), nullptr);
  ::SendMessageW(view_, LVM_SETCOLUMNWIDTH, 6, 40);  // the Path column cuts its text off
  HWND tip = nullptr;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM found) noexcept -> BOOL {
        wchar_t name[64] = {};
        ::GetClassNameW(window, name, 64);
        if (std::wstring(name) == TOOLTIPS_CLASSW && ::GetWindow(window, GW_OWNER) == ProcessesWindow()) {
          *reinterpret_cast<HWND*>(found) = window;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&tip));
  ASSERT_NE(tip, nullptr);
  auto tipOver = [&](int row, int column) {
    RECT cell = {};
    cell.top = column;
    cell.left = LVIR_BOUNDS;
    ::SendMessageW(view_, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell));
    const int right = column == 0 ? static_cast<int>(::SendMessageW(view_, LVM_GETCOLUMNWIDTH, 0, 0)) : cell.right;
    // As the main window's modal loop hands the mouse's message on.
    MSG move = {view_, WM_MOUSEMOVE, 0, MAKELPARAM((cell.left + right) / 2, (cell.top + cell.bottom) / 2), 0, {}};
    if (!::IsDialogMessageW(window_, &move)) ::DispatchMessageW(&move);
    NMTTDISPINFOW info = {};
    info.hdr = {tip, 0, static_cast<UINT>(TTN_GETDISPINFOW)};
    ::SendMessageW(window_, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    return info.lpszText != nullptr ? std::wstring(info.lpszText) : std::wstring();
  };
  EXPECT_THAT(tipOver(0, 3), ::testing::StartsWith(L"Windows denied access to this process."));
  // The system's own words for error 87, as it gives them.
  wchar_t words[256] = {};
  ASSERT_GT(
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 87, 0, words, 256, nullptr),
      0u);
  std::wstring message = words;
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) message.pop_back();
  EXPECT_EQ(tipOver(0, 4), L"Windows refused the call with error 87: " + message);
  EXPECT_EQ(tipOver(1, 6), L"C:\\Games\\game.exe") << "cut off by the narrow column";
  EXPECT_EQ(tipOver(1, 0), L"") << "game.exe fits its column";
  EXPECT_EQ(tipOver(2, 3), L"") << "alpha.exe is not matched";
}

// The program's icon, and a taskbar button of its own, so that the window
// can be found when the main window covers it.
TEST_F(ProcessesWindowTest, HasTheProgramsIconAndATaskbarButton) {
  ASSERT_NE(Open(), nullptr);
  EXPECT_NE(::SendMessageW(window_, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(::SendMessageW(window_, WM_GETICON, ICON_SMALL, 0), 0);
  EXPECT_TRUE(::GetWindowLongPtrW(window_, GWL_EXSTYLE) & WS_EX_APPWINDOW);
}

// A live switch between light and dark, as the system announces it:
// recoloured list, themed header and buttons, and a title bar that takes the
// new look at once, not at the next activation.
class ProcessesWindowThemeTest : public DarkModeFixture {
 protected:
  void SetUp() override {
    DarkModeFixture::SetUp();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnwick");
    UserSettings = std::make_unique<SettingsStore>(HKEY_CURRENT_USER);
  }
  void TearDown() override {
    if (HWND window = ProcessesWindow()) ::DestroyWindow(window);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnwick");
    DarkModeFixture::TearDown();
  }
  void Switch(bool dark) {
    Fake().appsDark = dark;
    Fake().ClearCalls();
    ::SendMessageW(window_, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"ImmersiveColorSet"));
  }

  PassResultsExchange source_;
  HWND window_ = nullptr;
};

TEST_F(ProcessesWindowThemeTest, ALiveSwitchRecoloursTheListThemesTheControlsAndRedrawsTheFrame) {
  StartUp();
  window_ = OpenProcessesWindow(nullptr, source_, {}, *UserSettings);
  ASSERT_NE(window_, nullptr);
  const HWND view = ::GetDlgItem(window_, IDC_PROCESS_VIEW);
  const HWND header = reinterpret_cast<HWND>(::SendMessageW(view, LVM_GETHEADER, 0, 0));
  Fake().NameWindow(header, "header");
  Fake().NameWindow(::GetDlgItem(window_, IDC_ADD_NAME), "add name");
  EXPECT_EQ(static_cast<COLORREF>(::SendMessageW(view, LVM_GETBKCOLOR, 0, 0)), kDarkPalette[kListBackgroundSlot]);
  ::UpdateWindow(window_);
  int framePaints = 0;
  ASSERT_TRUE(::SetWindowSubclass(window_, CountFramePaints, 1, reinterpret_cast<DWORD_PTR>(&framePaints)));

  for (const bool dark : {false, true}) {
    SCOPED_TRACE(dark ? "to dark" : "to light");
    framePaints = 0;
    Switch(dark);
    ::UpdateWindow(window_);
    EXPECT_EQ(static_cast<COLORREF>(::SendMessageW(view, LVM_GETBKCOLOR, 0, 0)), PaletteFor(dark)[kListBackgroundSlot]);
    EXPECT_EQ(static_cast<COLORREF>(::SendMessageW(view, LVM_GETTEXTCOLOR, 0, 0)), PaletteFor(dark)[kListTextSlot]);
    const std::string allow = dark ? " 1" : " 0";
    EXPECT_THAT(Fake().Calls(), ::testing::IsSupersetOf({"AllowWindowDark header" + allow,
                                                         std::string("SetWindowTheme header \"ItemsView\" null"),
                                                         "AllowWindowDark add name" + allow}));
    EXPECT_GE(framePaints, 1);
  }
  ::RemoveWindowSubclass(window_, CountFramePaints, 1);
}

// Rows moved on screen by a pass keep the dark palette's colours, those of a
// selection in a list without the keyboard focus included.
TEST_F(ProcessesWindowThemeTest, RowsMovedByAPassShowWhatAFullRepaintWouldInDark) {
  StartUp();
  const std::vector<ProcessResult> thousand = Rows(1000);
  PublishTo(source_, thousand);
  window_ = OpenProcessesWindow(nullptr, source_, {}, *UserSettings);
  ASSERT_NE(window_, nullptr);
  const HWND view = ::GetDlgItem(window_, IDC_PROCESS_VIEW);
  ASSERT_EQ(static_cast<COLORREF>(::SendMessageW(view, LVM_GETBKCOLOR, 0, 0)), kDarkPalette[kListBackgroundSlot]);
  LVITEMW selection = {};
  selection.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  selection.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageW(view, LVM_SETITEMSTATE, 4, reinterpret_cast<LPARAM>(&selection));
  ::SetFocus(::GetDlgItem(window_, IDC_PROCESS_FILTER));
  ::UpdateWindow(window_);

  PublishTo(source_, Without(thousand, {0}));
  ::SendMessageW(window_, WMU_PASS_DONE, 0, 0);
  ::UpdateWindow(window_);
  EXPECT_TRUE(SameAsAFullRepaint(view));
}

}  // namespace
}  // namespace tarnwick
