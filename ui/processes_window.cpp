#include "ui/processes_window.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/settings_names.h"
#include "config/settings_store.h"
#include "platform/gdi_scope.h"
#include "platform/resource_text.h"
#include "platform/unique_handle.h"
#include "platform/window_dpi.h"
#include "platform/window_state.h"
#include "res/resource.h"
#include "ui/messages.h"
#include "ui/process_rows.h"
#include "ui/program_instance.h"
#include "ui/start_watch_label.h"
#include "ui/theme.h"

namespace tarnwick {

namespace {

// Column widths at 96 DPI, in column order.
constexpr std::array<int, kProcessColumnCount> kDefaultColumnWidths = {140, 60, 120, 130, 100, 90, 320};
// Stored sizes outside these bounds (a damaged or hand-edited value) are not used.
constexpr uint32_t kMinStoredColumnWidth = 8;
constexpr uint32_t kMaxStoredColumnWidth = 4000;
constexpr uint32_t kMinStoredWindowSize = 200;
constexpr uint32_t kMaxStoredWindowSize = 16000;
// The clipboard is one lock for the whole session: clipboard viewers, history
// and remote-desktop tools hold it open for a moment after every change. A
// copy waits this long for it before it gives up.
constexpr ULONGLONG kClipboardPatienceMs = 500;
constexpr DWORD kClipboardRetryMs = 10;

constexpr const wchar_t* kCaption = L"Tarnwick";

// The window's own state, made with it and freed with it.
struct ProcessesWindowState : WindowStateLifetime {
  HWND window = nullptr;
  HWND view = nullptr;
  // The controls a refresh touches, found once: each look-up asks the window
  // manager, under Wine a round trip to its server.
  HWND addName = nullptr;
  HWND addPath = nullptr;
  HWND viewLabel = nullptr;
  HWND countLine = nullptr;
  PassResultsExchange* source = nullptr;
  ProcessesWindowList list;
  SettingsStore* settings = nullptr;  // keeps the size, place, sort and columns
  PassResults rows;
  std::vector<uint32_t> order;  // display position -> index into rows.processes
  // The rows and order shown before the last refresh: where a focused row
  // that is gone had its neighbours. The buffers swap at every refresh, so a
  // copy reuses the storage of the pass before last.
  PassResults previousRows;
  std::vector<uint32_t> previousOrder;
  ProcessSort sort;
  bool onlyMatched = false;
  std::wstring filter;
  std::wstring countText;
  bool refreshing = false;  // selection changes of a refresh are not the user's
  ProcessColumnTitles titles;
  int dpi = kDefaultDpi;
  unique_hhook dialogLoopHook;
  bool inDialogLoopHook = false;
  PaletteBrush dialogBrush{kDialogBackgroundSlot};
  unique_hicon bigIcon;
  unique_hicon smallIcon;
  HWND tip = nullptr;  // the cell tips; owned by the window, destroyed with it
  int tipRow = -1;
  int tipColumn = -1;
  std::wstring tipText;  // what the tip shows now, kept while it shows
};

// The open window, one at a time: what the main window and the relay of
// passes reach it by.
HWND OpenWindow = nullptr;

// What OpenProcessesWindow hands the window as it is made.
struct ProcessesWindowOpening {
  PassResultsExchange* source = nullptr;
  ProcessesWindowList list;
  SettingsStore* settings = nullptr;
};

ProcessesWindowState* StateOf(HWND window) noexcept {
  return window != nullptr ? WindowStateOf<ProcessesWindowState>(window, kDialogStateSlot) : nullptr;
}

std::wstring ColumnWidthSetting(int column) { return L"ProcessesColumn" + std::to_wstring(column) + L"Width"; }

// --- Rows -------------------------------------------------------------------

std::vector<int> SelectedPositions(HWND view) {
  std::vector<int> positions;
  for (int i = static_cast<int>(::SendMessageW(view, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)); i >= 0;
       i = static_cast<int>(::SendMessageW(view, LVM_GETNEXTITEM, static_cast<WPARAM>(i), LVNI_SELECTED))) {
    positions.push_back(i);
  }
  return positions;
}

// The selected rows' indices into rows.processes, in display order.
std::vector<uint32_t> SelectedRows(const ProcessesWindowState& state) {
  std::vector<uint32_t> selected;
  for (int position : SelectedPositions(state.view)) {
    if (static_cast<size_t>(position) < state.order.size()) selected.push_back(state.order[position]);
  }
  return selected;
}

void SetItemState(HWND view, int position, UINT state, UINT mask) noexcept {
  LVITEMW item = {};
  item.stateMask = mask;
  item.state = state;
  ::SendMessageW(view, LVM_SETITEMSTATE, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(&item));
}

void UpdateButtons(const ProcessesWindowState& state) noexcept {
  const bool any = ::SendMessageW(state.view, LVM_GETSELECTEDCOUNT, 0, 0) > 0;
  ::EnableWindow(state.addName, any);
  ::EnableWindow(state.addPath, any);
}

// The position of the row the list view shows on top.
size_t TopRow(HWND view) noexcept {
  return static_cast<size_t>(std::max<LRESULT>(::SendMessageW(view, LVM_GETTOPINDEX, 0, 0), 0));
}

// The rows the list view shows now, top to bottom (a page and one more);
// returns the position of the top one.
size_t CopyVisibleRows(const ProcessesWindowState& state, std::vector<ProcessResult>& visible) {
  const size_t top = TopRow(state.view);
  const size_t page = static_cast<size_t>(std::max<LRESULT>(::SendMessageW(state.view, LVM_GETCOUNTPERPAGE, 0, 0), 0));
  visible.clear();
  for (size_t position = top; position < state.order.size() && position <= top + page; ++position) {
    visible.push_back(state.rows.processes[state.order[position]]);
  }
  return top;
}

// The list view paints its background below the last row only when the
// paint erases: rows drawn there before the count went down would stay.
void EraseBelowLastRow(HWND view, size_t count) noexcept {
  RECT below = {};
  ::GetClientRect(view, &below);
  RECT last = {};
  last.left = LVIR_BOUNDS;
  if (count > 0 && ::SendMessageW(view, LVM_GETITEMRECT, count - 1, reinterpret_cast<LPARAM>(&last))) {
    below.top = std::max(below.top, last.bottom);
  }
  if (below.top < below.bottom) ::InvalidateRect(view, &below, TRUE);
}

// How the rows on screen moved in a refresh: from screen row `from` down,
// each shows what the row `rows` below it showed (a process above ended) or
// above it (one started). The rows above `from`, or above its source when
// the rows moved down, stay where they are.
struct RowShift {
  int rows = 0;  // 0: nothing moved
  size_t from = 0;
};

// A process that starts or ends moves the rows below it by one; a few at
// once, a few rows. Rows moved further are repainted.
constexpr int kMostRowsShifted = 8;

// The first screen row whose pixels a shift moves: the target row when the
// rows move up, the source row when they move down.
size_t FirstMovedRow(const RowShift& shift) noexcept {
  return shift.rows < 0 ? shift.from - static_cast<size_t>(-shift.rows) : shift.from;
}

// Whether screen row `row` after a refresh shows what the row `shift` below
// it (above it, when negative) showed before.
bool ShowsAsBefore(const std::vector<ProcessResult>& before, const std::vector<ProcessResult>& after, size_t row,
                   int shift) {
  const ptrdiff_t source = static_cast<ptrdiff_t>(row) + shift;
  return source >= 0 && static_cast<size_t>(source) < before.size() &&
         after[row] == before[static_cast<size_t>(source)];
}

// The shift after which most rows on screen already show what they must;
// none when staying in place keeps as many.
RowShift FindRowShift(const std::vector<ProcessResult>& before, const std::vector<ProcessResult>& after) {
  auto shows = [&](size_t row, int shift) { return ShowsAsBefore(before, after, row, shift); };
  // keptAbove[i]: the rows above row i that show what they showed.
  std::vector<size_t> keptAbove(after.size() + 1, 0);
  for (size_t row = 0; row < after.size(); ++row) keptAbove[row + 1] = keptAbove[row] + (shows(row, 0) ? 1 : 0);
  RowShift best;
  size_t mostKept = keptAbove[after.size()];
  for (int rows = -kMostRowsShifted; rows <= kMostRowsShifted; ++rows) {
    if (rows == 0) continue;
    RowShift shift{rows, 0};
    while (shift.from < after.size() && !shows(shift.from, rows)) ++shift.from;
    if (shift.from == after.size()) continue;
    size_t kept = keptAbove[FirstMovedRow(shift)];
    for (size_t row = shift.from; row < after.size(); ++row) kept += shows(row, rows) ? 1 : 0;
    if (kept > mostKept) {
      best = shift;
      mostKept = kept;
    }
  }
  return best;
}

// Moves the pixels of the rows that moved, as the list view scrolls its own:
// from the first moved row to the bottom, below the header, by whole rows.
// The ground the move uncovers is invalidated. Returns the shift made.
RowShift MoveShiftedRows(HWND view, size_t top, const RowShift& shift) noexcept {
  if (shift.rows == 0) return {};
  RECT first = {};
  first.left = LVIR_BOUNDS;
  if (!::SendMessageW(view, LVM_GETITEMRECT, top + FirstMovedRow(shift), reinterpret_cast<LPARAM>(&first))) return {};
  RECT band = {};
  ::GetClientRect(view, &band);
  band.top = std::max(band.top, first.top);
  if (band.top >= band.bottom) return {};
  // A window that cannot be drawn now moves nothing: its rows are repainted.
  if (::ScrollWindowEx(view, 0, -shift.rows * (first.bottom - first.top), &band, &band, nullptr, nullptr,
                       SW_INVALIDATE) == ERROR) {
    return {};
  }
  return shift;
}

// Repaints the rows that do not show what they must after `shift`, in place
// from the list view's own back buffer (no erase, no flicker): each painted
// row costs text drawing, and under Wine a round trip to the display. A
// row under the mouse is drawn hot where it is, not where its pixels went.
void RedrawChangedRows(HWND view, size_t top, const RowShift& shift, const std::vector<ProcessResult>& before,
                       const std::vector<ProcessResult>& after, int hotBefore, int hotAfter) {
  if (after.size() < before.size()) EraseBelowLastRow(view, top + after.size());
  std::vector<bool> changed(after.size(), false);
  const size_t firstMoved = shift.rows != 0 ? FirstMovedRow(shift) : after.size();
  for (size_t row = 0; row < after.size(); ++row) {
    changed[row] = !ShowsAsBefore(before, after, row, row < firstMoved ? 0 : shift.rows);
  }
  if (shift.rows != 0) {
    auto mark = [&](ptrdiff_t row) {
      if (row >= 0 && static_cast<size_t>(row) < after.size()) changed[static_cast<size_t>(row)] = true;
    };
    const ptrdiff_t topRow = static_cast<ptrdiff_t>(top);
    if (hotBefore >= 0) mark(hotBefore - topRow - shift.rows);
    if (hotAfter >= 0) mark(hotAfter - topRow);
  }
  RECT client = {};
  ::GetClientRect(view, &client);
  // Each run of changed rows is one band.
  for (size_t row = 0; row < after.size();) {
    if (!changed[row]) {
      ++row;
      continue;
    }
    size_t last = row;
    while (last + 1 < after.size() && changed[last + 1]) ++last;
    RECT firstRow = {};
    firstRow.left = LVIR_BOUNDS;
    RECT lastRow = {};
    lastRow.left = LVIR_BOUNDS;
    if (::SendMessageW(view, LVM_GETITEMRECT, top + row, reinterpret_cast<LPARAM>(&firstRow)) &&
        ::SendMessageW(view, LVM_GETITEMRECT, top + last, reinterpret_cast<LPARAM>(&lastRow))) {
      const RECT band = {client.left, std::max(client.top, firstRow.top), client.right,
                         std::min(client.bottom, lastRow.bottom)};
      if (band.top < band.bottom) ::InvalidateRect(view, &band, FALSE);
    } else {
      ::InvalidateRect(view, nullptr, FALSE);
      return;
    }
    row = last + 1;
  }
}

// What the list view's scroll bars show: where they are, whether they are
// there, and their thumbs.
struct ScrollBarsLook {
  SCROLLBARINFO vertical = {};
  SCROLLBARINFO horizontal = {};
  RECT client = {};
};

SCROLLBARINFO ScrollBarOf(HWND view, LONG bar) noexcept {
  SCROLLBARINFO info = {};
  info.cbSize = sizeof(info);
  if (!::GetScrollBarInfo(view, bar, &info)) return {};
  return info;
}

ScrollBarsLook ScrollBarsOf(HWND view) noexcept {
  ScrollBarsLook look;
  look.vertical = ScrollBarOf(view, OBJID_VSCROLL);
  look.horizontal = ScrollBarOf(view, OBJID_HSCROLL);
  ::GetClientRect(view, &look.client);
  return look;
}

bool SameBar(const SCROLLBARINFO& a, const SCROLLBARINFO& b) noexcept {
  return ::EqualRect(&a.rcScrollBar, &b.rcScrollBar) && a.xyThumbTop == b.xyThumbTop &&
         a.xyThumbBottom == b.xyThumbBottom && a.rgstate[0] == b.rgstate[0];
}

// Repaints a scroll bar, given in screen coordinates, where it was or is.
void RedrawBar(HWND view, const SCROLLBARINFO& bar) noexcept {
  RECT rect = bar.rcScrollBar;
  if (::IsRectEmpty(&rect)) return;
  ::MapWindowPoints(nullptr, view, reinterpret_cast<POINT*>(&rect), 2);
  ::RedrawWindow(view, &rect, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_NOERASE | RDW_NOCHILDREN);
}

// Hands the list view a new row count without painting on the way. A count
// makes the list view paint its scroll bars, under Wine four times, each a
// trip to the display that costs more than the rest of a refresh; usually
// the bars look the same after one process more or less. So painting is held
// while the count changes, and the bars are repainted only when they look
// different. Painting is held through DefWindowProc, not the list view's own
// WM_SETREDRAW, which repaints every row when it is released. The rows are
// repainted by the caller, which knows which of them changed.
void SetRowCount(HWND view, size_t count) noexcept {
  // Holding painting drops what waits to be painted: paint it first.
  ::UpdateWindow(view);
  const ScrollBarsLook before = ScrollBarsOf(view);
  ::DefWindowProcW(view, WM_SETREDRAW, FALSE, 0);
  ::SendMessageW(view, LVM_SETITEMCOUNT, count, LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
  ::DefWindowProcW(view, WM_SETREDRAW, TRUE, 0);
  // Wine marks the frame for painting at every style change, and holding
  // painting is one; a window that holds painting takes no invalidation, and
  // all was painted before. So this drops only that mark: what did change is
  // repainted below.
  ::RedrawWindow(view, nullptr, nullptr, RDW_VALIDATE | RDW_NOFRAME | RDW_NOCHILDREN);
  const ScrollBarsLook after = ScrollBarsOf(view);
  if (!::EqualRect(&before.client, &after.client)) {
    // A bar came or went: the rows have new room, and the header may too.
    ::RedrawWindow(view, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    return;
  }
  if (!SameBar(before.vertical, after.vertical)) {
    RedrawBar(view, before.vertical);
    RedrawBar(view, after.vertical);
  }
  if (!SameBar(before.horizontal, after.horizontal)) {
    RedrawBar(view, before.horizontal);
    RedrawBar(view, after.horizontal);
  }
}

void UpdateCountLine(ProcessesWindowState& state) {
  std::wstring text = ProcessCountText(state.rows.processes.size(), state.rows.matched, state.order.size());
  if (text == state.countText) return;
  state.countText = std::move(text);
  ::SetWindowTextW(state.countLine, state.countText.c_str());
}

// Orders the rows anew and hands the count to the list view, which asks for
// the text of the rows it shows. The selection and focus follow their
// processes; a focused row that is gone hands the focus (and the selection,
// when it was the only one) to its neighbour; the top row stays where it was.
// Only what changed is touched: each of these calls costs the list view, and
// a pass usually changes nothing on screen. Rows that moved because a
// process above them started or ended are moved on screen, not repainted.
void ShowRows(ProcessesWindowState& state, bool readNewPass) {
  // What waits to be painted is painted first: the screen then shows the
  // rows as they were, and what moves on it is right.
  ::UpdateWindow(state.view);
  const std::vector<int> selectedBefore = SelectedPositions(state.view);
  std::vector<ProcessRowKey> selected;
  for (int position : selectedBefore) {
    if (static_cast<size_t>(position) < state.order.size()) {
      selected.push_back(KeyOf(state.rows.processes[state.order[static_cast<size_t>(position)]]));
    }
  }
  std::vector<ProcessRowKey> focused;
  const int focusBefore =
      static_cast<int>(::SendMessageW(state.view, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
  if (focusBefore >= 0 && static_cast<size_t>(focusBefore) < state.order.size()) {
    focused.push_back(KeyOf(state.rows.processes[state.order[static_cast<size_t>(focusBefore)]]));
  }
  std::vector<ProcessResult> visibleBefore;
  const size_t topBefore = CopyVisibleRows(state, visibleBefore);
  const int hotBefore = static_cast<int>(::SendMessageW(state.view, LVM_GETHOTITEM, 0, 0));
  if (readNewPass) {
    if (state.source == nullptr) return;
    // Only a pass newer than the one shown is copied.
    state.previousRows.pass = state.rows.pass;
    if (!state.source->CopyLatest(state.previousRows)) return;
    std::swap(state.rows, state.previousRows);
    ShowStartWatchLabel(state.viewLabel, state.rows.startWatch);
  }
  const std::vector<ProcessResult>& oldRows = readNewPass ? state.previousRows.processes : state.rows.processes;
  // A method switched on or off changes the words of unchanged rows.
  const bool wordsChanged = readNewPass && state.rows.methodsOn != state.previousRows.methodsOn;
  if (wordsChanged) ::InvalidateRect(state.view, nullptr, FALSE);
  const size_t countBefore = state.order.size();
  std::swap(state.order, state.previousOrder);
  OrderProcessRows(state.rows.processes, state.onlyMatched, state.sort, state.order, state.filter);

  state.refreshing = true;
  if (state.order.size() != countBefore) {
    SetRowCount(state.view, state.order.size());
  }
  // The rows are moved before the selection and focus change: the list view
  // then repaints the rows whose state changed where they are now.
  std::vector<ProcessResult> visibleAfter;
  const size_t topAfter = CopyVisibleRows(state, visibleAfter);
  RowShift shift;
  if (!wordsChanged && topAfter == topBefore) {
    shift = MoveShiftedRows(state.view, topAfter, FindRowShift(visibleBefore, visibleAfter));
  }
  std::vector<int> selectedAfter = PositionsOfKeys(state.rows.processes, state.order, selected);
  const std::vector<int> focusAfter = PositionsOfKeys(state.rows.processes, state.order, focused);
  int focus = focusAfter.empty() ? -1 : focusAfter[0];
  bool focusMoved = false;
  if (focus < 0 && !focused.empty()) {
    focus = NeighbourPosition(oldRows, state.previousOrder, static_cast<size_t>(focusBefore), state.rows.processes,
                              state.order);
    focusMoved = focus >= 0;
    const bool focusWasSelected = std::binary_search(selectedBefore.begin(), selectedBefore.end(), focusBefore);
    if (focusMoved && focusWasSelected && selectedAfter.empty()) selectedAfter.push_back(focus);
  }
  for (int position : selectedBefore) {
    if (!std::binary_search(selectedAfter.begin(), selectedAfter.end(), position)) {
      SetItemState(state.view, position, 0, LVIS_SELECTED);
    }
  }
  for (int position : selectedAfter) {
    if (!std::binary_search(selectedBefore.begin(), selectedBefore.end(), position)) {
      SetItemState(state.view, position, LVIS_SELECTED, LVIS_SELECTED);
    }
  }
  if (focus < 0 && focusBefore >= 0) {
    SetItemState(state.view, focusBefore, 0, LVIS_FOCUSED);
  } else if (focus >= 0 && (focus != focusBefore || focusMoved)) {
    SetItemState(state.view, focus, LVIS_FOCUSED, LVIS_FOCUSED);
    // Shift with an arrow or a click extends from here.
    if (focusMoved) ::SendMessageW(state.view, LVM_SETSELECTIONMARK, 0, focus);
  }
  state.refreshing = false;

  if (TopRow(state.view) != topBefore || topAfter != topBefore) {
    // The list view scrolled: every row is repainted, and the ground below the last.
    EraseBelowLastRow(state.view, state.order.size());
    ::InvalidateRect(state.view, nullptr, FALSE);
  } else {
    const int hotAfter = static_cast<int>(::SendMessageW(state.view, LVM_GETHOTITEM, 0, 0));
    RedrawChangedRows(state.view, topAfter, shift, visibleBefore, visibleAfter, hotBefore, hotAfter);
  }
  UpdateButtons(state);
  UpdateCountLine(state);
}

void ShowSortArrow(const ProcessesWindowState& state) noexcept {
  HWND header = reinterpret_cast<HWND>(::SendMessageW(state.view, LVM_GETHEADER, 0, 0));
  if (header == nullptr) return;
  for (int column = 0; column < kProcessColumnCount; ++column) {
    HDITEMW item = {};
    item.mask = HDI_FORMAT;
    if (!::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item))) continue;
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (column == state.sort.column) item.fmt |= state.sort.descending ? HDF_SORTDOWN : HDF_SORTUP;
    ::SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
  }
}

// --- Commands ---------------------------------------------------------------

// After a box or an add through the main window, which may have come
// forward, the user goes on where they were.
void ComeBack(const ProcessesWindowState& state) noexcept {
  if (state.window != nullptr && ::GetActiveWindow() != state.window) ::SetActiveWindow(state.window);
}

// Adds the selected rows' names or paths that are not listed yet; more than
// one is asked first. Entries listed already, and names that had to change
// to match themselves, are said in the one box this shows, owned by this window.
void AddSelected(ProcessesWindowState& state, AddWhat what) {
  if (!state.list.add) return;
  const std::vector<std::wstring> listed = state.list.listed ? state.list.listed() : std::vector<std::wstring>();
  // From the window's copy: a process that ended since still gives its name.
  const AddPlan plan = PlanAdd(state.rows.processes, SelectedRows(state), what, listed);
  const std::wstring question = AddQuestionText(plan);
  if (!question.empty()) {
    const int answer = ::MessageBoxW(state.window, question.c_str(), kCaption, MB_YESNO | MB_ICONQUESTION);
    if (answer != IDYES) {
      ComeBack(state);
      return;
    }
  }
  if (!plan.entries.empty()) state.list.add(state.window, plan.entries);
  if (question.empty()) {
    const std::wstring report = AddReportText(plan);
    if (!report.empty() && state.window != nullptr) {
      ::MessageBoxW(state.window, report.c_str(), kCaption, MB_ICONINFORMATION);
    }
  }
  ComeBack(state);
}

// Takes the patterns that matched the selected rows out of the list; a
// pattern that matches other running processes too is asked about first.
void RemoveSelected(ProcessesWindowState& state) {
  if (!state.list.remove) return;
  const std::vector<PatternToRemove> patterns = PlanRemove(state.rows.processes, SelectedRows(state));
  if (patterns.empty()) return;
  const std::wstring question = RemoveQuestionText(patterns);
  if (!question.empty() &&
      ::MessageBoxW(state.window, question.c_str(), kCaption, MB_YESNO | MB_ICONQUESTION) != IDYES) {
    ComeBack(state);
    return;
  }
  for (const PatternToRemove& remove : patterns) {
    if (state.window == nullptr) break;
    state.list.remove(state.window, remove.pattern);
  }
  ComeBack(state);
}

// Shows the selected process's file in Explorer, started as the desktop's
// user: this program may run elevated, Explorer must not.
void OpenFileLocation(ProcessesWindowState& state) {
  const std::vector<uint32_t> selected = SelectedRows(state);
  if (state.list.starter == nullptr || selected.size() != 1) return;
  const std::wstring path = state.rows.processes[selected[0]].imagePath;
  if (path.empty() || state.list.starter->ShowFileInFolder(path)) return;
  const std::wstring text = L"The folder of this file could not be opened:\n" + path;
  ::MessageBoxW(state.window, text.c_str(), kCaption, MB_ICONWARNING);
  ComeBack(state);
}

// Opens the clipboard for `owner`, waiting a little while another program
// has it open.
bool OpenClipboardPatiently(HWND owner) noexcept {
  const ULONGLONG deadline = ::GetTickCount64() + kClipboardPatienceMs;
  while (!::OpenClipboard(owner)) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(kClipboardRetryMs);
  }
  return true;
}

void CopySelected(const ProcessesWindowState& state) noexcept {
  const std::vector<uint32_t> selected = SelectedRows(state);
  if (selected.empty()) return;
  const std::wstring text = ProcessRowsCopyText(state.titles, state.rows.processes, selected, state.rows.methodsOn);
  unique_hglobal memory(::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t)));
  if (!memory) return;
  void* bytes = ::GlobalLock(memory.get());
  if (bytes == nullptr) return;
  std::memcpy(bytes, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  ::GlobalUnlock(memory.get());
  if (!OpenClipboardPatiently(state.window)) return;
  ::EmptyClipboard();
  // The clipboard owns the memory once it took it.
  if (::SetClipboardData(CF_UNICODETEXT, memory.get()) != nullptr) (void)memory.release();
  ::CloseClipboard();
}

void SelectAll(ProcessesWindowState& state) noexcept {
  SetItemState(state.view, -1, LVIS_SELECTED, LVIS_SELECTED);
  UpdateButtons(state);
}

void ShowContextMenu(ProcessesWindowState& state, LPARAM lParam) noexcept {
  POINT at = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  if (lParam == -1) {
    // From the keyboard: under the focused row, or the list's corner.
    RECT row = {};
    row.left = LVIR_BOUNDS;
    const int focus =
        static_cast<int>(::SendMessageW(state.view, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    at = {0, 0};
    if (focus >= 0 &&
        ::SendMessageW(state.view, LVM_GETITEMRECT, static_cast<WPARAM>(focus), reinterpret_cast<LPARAM>(&row))) {
      at = {row.left, row.bottom};
    }
    ::ClientToScreen(state.view, &at);
  }
  unique_hmenu menu(::LoadMenuW(ProgramInstance(), MAKEINTRESOURCEW(IDR_PROCESSES_MENU)));
  if (!menu) return;
  HMENU popup = ::GetSubMenu(menu.get(), 0);
  if (popup == nullptr) return;
  const UINT enabled = ::SendMessageW(state.view, LVM_GETSELECTEDCOUNT, 0, 0) > 0 ? MF_ENABLED : MF_GRAYED;
  for (const UINT command : {IDC_ADD_NAME, IDC_ADD_PATH, IDM_COPY_ROWS}) {
    ::EnableMenuItem(popup, command, MF_BYCOMMAND | enabled);
  }
  const std::vector<uint32_t> selected = SelectedRows(state);
  const bool anyMatched =
      std::any_of(selected.begin(), selected.end(), [&](uint32_t row) { return state.rows.processes[row].matched; });
  ::EnableMenuItem(popup, IDM_REMOVE_FROM_LIST,
                   MF_BYCOMMAND | (anyMatched && state.list.remove ? MF_ENABLED : MF_GRAYED));
  const bool onePath =
      state.list.starter != nullptr && selected.size() == 1 && !state.rows.processes[selected[0]].imagePath.empty();
  ::EnableMenuItem(popup, IDM_OPEN_FILE_LOCATION, MF_BYCOMMAND | (onePath ? MF_ENABLED : MF_GRAYED));
  ::EnableMenuItem(popup, IDM_DEFAULT_ORDER, MF_BYCOMMAND | (state.sort.column >= 0 ? MF_ENABLED : MF_GRAYED));
  // Enter and a double-click do what the bold item does.
  ::SetMenuDefaultItem(popup, IDC_ADD_NAME, FALSE);
  const int command =
      static_cast<int>(::TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, state.window, nullptr));
  if (command != 0) ::SendMessageW(state.window, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

// --- Layout and settings ----------------------------------------------------

// The window's measures in pixels at its DPI, from dialog units, which
// follow the dialog's font.
struct LayoutMeasures {
  int margin, labelHeight, buttonWidth, buttonHeight;             // 7, 8, 50, 14
  int rowGap, buttonGap, bottomGap, checkHeight;                  // 3, 4, 5, 10
  int filterHeight, filterWidth, countHeight, listMinimumHeight;  // 12, 120, 8, 48
};

LayoutMeasures MeasuresOf(HWND window) noexcept {
  RECT first = {7, 8, 50, 14};
  RECT second = {3, 4, 5, 10};
  RECT third = {12, 120, 8, 48};
  ::MapDialogRect(window, &first);
  ::MapDialogRect(window, &second);
  ::MapDialogRect(window, &third);
  return {first.left,   first.top,     first.right, first.bottom, second.left, second.top,
          second.right, second.bottom, third.left,  third.top,    third.right, third.bottom};
}

// The width a control's text needs in the control's font, with its '&' marks.
int TextWidth(HWND control) noexcept {
  wchar_t text[128] = {};
  ::GetWindowTextW(control, text, static_cast<int>(std::size(text)));
  window_dc dc(control);
  if (!dc) return 0;
  RECT area = {};
  select_object_scope font(dc.get(), reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  ::DrawTextW(dc.get(), text, -1, &area, DT_CALCRECT | DT_SINGLELINE);
  return area.right - area.left;
}

// The check box's box and gap beside its text: what the button itself says
// it needs, or the box's width at the window's DPI and a gap.
int CheckBoxWidth(HWND checkBox, int dpi) noexcept {
  SIZE ideal = {};
  const int own = TextWidth(checkBox) + SystemMetricForDpi(SM_CXMENUCHECK, dpi) + ScaleForDpi(6, dpi);
  if (::SendMessageW(checkBox, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal))) {
    return std::max<int>(own, ideal.cx);
  }
  return own;
}

// The smallest window that still shows every control whole: the check box
// with its label beside the three buttons, the label beside a filter box of
// half its width, and a few rows.
SIZE MinimumWindowSize(const ProcessesWindowState& state) noexcept {
  const LayoutMeasures m = MeasuresOf(state.window);
  const int bottomRow = CheckBoxWidth(::GetDlgItem(state.window, IDC_ONLY_MATCHED), state.dpi) + m.bottomGap +
                        3 * m.buttonWidth + 2 * m.buttonGap;
  const int topRow = TextWidth(::GetDlgItem(state.window, IDC_PROCESS_VIEW_LABEL)) + m.bottomGap + m.filterWidth / 2;
  const int clientWidth = 2 * m.margin + std::max(bottomRow, topRow);
  const int clientHeight = 2 * m.margin + m.filterHeight + m.rowGap + m.listMinimumHeight + m.rowGap + m.countHeight +
                           m.bottomGap + m.buttonHeight;
  RECT frame = {};
  RECT client = {};
  ::GetWindowRect(state.window, &frame);
  ::GetClientRect(state.window, &client);
  return {clientWidth + (frame.right - frame.left) - client.right,
          clientHeight + (frame.bottom - frame.top) - client.bottom};
}

void Layout(const ProcessesWindowState& state) noexcept {
  HWND window = state.window;
  RECT client = {};
  ::GetClientRect(window, &client);
  const LayoutMeasures m = MeasuresOf(window);
  const int width = static_cast<int>(client.right);
  const int buttonTop = static_cast<int>(client.bottom) - m.margin - m.buttonHeight;
  const int filterWidth = std::min(m.filterWidth, std::max(width - 2 * m.margin, 0) / 2);
  const int viewTop = m.margin + m.filterHeight + m.rowGap;
  const int countTop = buttonTop - m.bottomGap - m.countHeight;
  const int viewBottom = std::max(viewTop, countTop - m.rowGap);
  constexpr int kMoved[] = {IDC_PROCESS_VIEW_LABEL, IDC_PROCESS_FILTER, IDC_PROCESS_COUNT, IDC_ONLY_MATCHED,
                            IDC_ADD_NAME,           IDC_ADD_PATH,       IDCANCEL};
  HDWP positions = ::BeginDeferWindowPos(static_cast<int>(std::size(kMoved)) + 1);
  auto place = [&](int id, int x, int y, int cx, int cy) {
    if (positions != nullptr) {
      positions = ::DeferWindowPos(positions, ::GetDlgItem(window, id), nullptr, x, y, std::max(cx, 0), std::max(cy, 0),
                                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  };
  place(IDC_PROCESS_VIEW_LABEL, m.margin, m.margin + (m.filterHeight - m.labelHeight) / 2,
        width - 2 * m.margin - filterWidth - m.bottomGap, m.labelHeight);
  place(IDC_PROCESS_FILTER, width - m.margin - filterWidth, m.margin, filterWidth, m.filterHeight);
  place(IDC_PROCESS_VIEW, m.margin, viewTop, width - 2 * m.margin, viewBottom - viewTop);
  place(IDC_PROCESS_COUNT, m.margin, countTop, width - 2 * m.margin, m.countHeight);
  int right = width - m.margin;
  for (const int id : {IDCANCEL, IDC_ADD_PATH, IDC_ADD_NAME}) {
    place(id, right - m.buttonWidth, buttonTop, m.buttonWidth, m.buttonHeight);
    right -= m.buttonWidth + m.buttonGap;
  }
  place(IDC_ONLY_MATCHED, m.margin, buttonTop + (m.buttonHeight - m.checkHeight) / 2, right - m.margin, m.checkHeight);
  if (positions != nullptr) ::EndDeferWindowPos(positions);
  // A control moved into ground the window had already painted is not
  // always painted there again: each is repainted whole at its new place,
  // and the window's own ground where it was. The list view repaints what
  // its new size uncovers by itself.
  ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_NOCHILDREN);
  for (const int id : kMoved) {
    ::RedrawWindow(::GetDlgItem(window, id), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
  }
}

void RestoreSizeAndColumns(ProcessesWindowState& state) noexcept {
  uint32_t width = 0;
  uint32_t height = 0;
  const bool stored = state.settings->ReadNumber(kProcessesWindowWidth, width) &&
                      state.settings->ReadNumber(kProcessesWindowHeight, height);
  if (stored && width >= kMinStoredWindowSize && width <= kMaxStoredWindowSize && height >= kMinStoredWindowSize &&
      height <= kMaxStoredWindowSize) {
    const int pixelWidth = ScaleForDpi(static_cast<int>(width), state.dpi);
    const int pixelHeight = ScaleForDpi(static_cast<int>(height), state.dpi);
    // Centred over the owner, as the template's own size is, unless a place
    // on a screen that is still there was kept.
    RECT owner = {};
    HWND ownerWindow = ::GetWindow(state.window, GW_OWNER);
    if (ownerWindow == nullptr || !::GetWindowRect(ownerWindow, &owner)) ::GetWindowRect(state.window, &owner);
    int x = std::max((owner.left + owner.right - pixelWidth) / 2, 0L);
    int y = std::max((owner.top + owner.bottom - pixelHeight) / 2, 0L);
    uint32_t left = 0;
    uint32_t top = 0;
    if (state.settings->ReadNumber(kProcessesWindowLeft, left) &&
        state.settings->ReadNumber(kProcessesWindowTop, top)) {
      const RECT kept = {static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(left) + pixelWidth,
                         static_cast<int32_t>(top) + pixelHeight};
      if (::MonitorFromRect(&kept, MONITOR_DEFAULTTONULL) != nullptr) {
        x = kept.left;
        y = kept.top;
      }
    }
    ::SetWindowPos(state.window, nullptr, x, y, pixelWidth, pixelHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  uint32_t sortColumn = 0;
  uint32_t flag = 0;
  if (state.settings->ReadNumber(kProcessesSortColumn, sortColumn) && sortColumn >= 1 &&
      sortColumn <= static_cast<uint32_t>(kProcessColumnCount)) {
    state.sort.column = static_cast<int>(sortColumn) - 1;
    state.sort.descending = state.settings->ReadNumber(kProcessesSortDescending, flag) && flag != 0;
  }
  state.onlyMatched = state.settings->ReadNumber(kProcessesOnlyMatched, flag) && flag != 0;
  ::CheckDlgButton(state.window, IDC_ONLY_MATCHED, state.onlyMatched ? BST_CHECKED : BST_UNCHECKED);
  for (int column = 0; column < kProcessColumnCount; ++column) {
    uint32_t columnWidth = 0;
    int width96 = kDefaultColumnWidths[static_cast<size_t>(column)];
    if (state.settings->ReadNumber(ColumnWidthSetting(column).c_str(), columnWidth) &&
        columnWidth >= kMinStoredColumnWidth && columnWidth <= kMaxStoredColumnWidth) {
      width96 = static_cast<int>(columnWidth);
    }
    ::SendMessageW(state.view, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), ScaleForDpi(width96, state.dpi));
  }
}

void SaveSizeAndColumns(const ProcessesWindowState& state) noexcept {
  WINDOWPLACEMENT placement = {};
  placement.length = sizeof(placement);
  if (::GetWindowPlacement(state.window, &placement)) {
    const RECT& normal = placement.rcNormalPosition;
    state.settings->WriteValue(kProcessesWindowWidth,
                               static_cast<uint32_t>(::MulDiv(normal.right - normal.left, kDefaultDpi, state.dpi)));
    state.settings->WriteValue(kProcessesWindowHeight,
                               static_cast<uint32_t>(::MulDiv(normal.bottom - normal.top, kDefaultDpi, state.dpi)));
    // The normal place is kept in work-area coordinates: from the screen's.
    POINT corner = {normal.left, normal.top};
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    if (::GetMonitorInfoW(::MonitorFromRect(&normal, MONITOR_DEFAULTTONEAREST), &monitor)) {
      corner.x += monitor.rcWork.left - monitor.rcMonitor.left;
      corner.y += monitor.rcWork.top - monitor.rcMonitor.top;
    }
    state.settings->WriteValue(kProcessesWindowLeft, static_cast<uint32_t>(corner.x));
    state.settings->WriteValue(kProcessesWindowTop, static_cast<uint32_t>(corner.y));
  }
  state.settings->WriteValue(kProcessesSortColumn, static_cast<uint32_t>(state.sort.column + 1));
  state.settings->WriteValue(kProcessesSortDescending, state.sort.descending ? 1u : 0u);
  state.settings->WriteValue(kProcessesOnlyMatched, state.onlyMatched ? 1u : 0u);
  for (int column = 0; column < kProcessColumnCount; ++column) {
    const int width = static_cast<int>(::SendMessageW(state.view, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    if (width <= 0) continue;
    state.settings->WriteValue(ColumnWidthSetting(column).c_str(),
                               static_cast<uint32_t>(::MulDiv(width, kDefaultDpi, state.dpi)));
  }
}

// --- Dark painting ----------------------------------------------------------

constexpr UINT_PTR kHeaderPainterId = 1;
constexpr UINT_PTR kFilterKeysId = 1;

void FillWith(HDC dc, const RECT& area, COLORREF colour) noexcept {
  unique_hbrush brush(::CreateSolidBrush(colour));
  if (brush) ::FillRect(dc, &area, brush.get());
}

// A small triangle pointing up or down, centred at the top of `item`, as the
// light header shows the sort.
void PaintSortArrow(HDC dc, const RECT& item, bool descending, int dpi, COLORREF colour) noexcept {
  const int half = ScaleForDpi(4, dpi);
  const int centre = (item.left + item.right) / 2;
  const int top = item.top + ScaleForDpi(1, dpi);
  for (int line = 0; line < half; ++line) {
    const int reach = descending ? half - 1 - line : line;
    const RECT row = {centre - reach, top + line, centre + reach + 1, top + line + 1};
    FillWith(dc, row, colour);
  }
}

// The column header while dark: the system's header has no dark look of its
// own (Wine's and older Windows' are light), so it is painted here in the
// palette, titles, dividers and the sort arrow.
void PaintDarkHeader(HWND header, int dpi) noexcept {
  paint_scope paint(header);
  if (!paint) return;
  HDC dc = paint.get();
  RECT client = {};
  ::GetClientRect(header, &client);
  FillWith(dc, client, ThemePalette[kDialogBackgroundSlot]);
  select_object_scope font(dc, reinterpret_cast<HFONT>(::SendMessageW(header, WM_GETFONT, 0, 0)));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ThemePalette[kDialogTextSlot]);
  const int items = static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
  for (int index = 0; index < items; ++index) {
    RECT item = {};
    if (!::SendMessageW(header, HDM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item))) continue;
    wchar_t text[128] = {};
    HDITEMW info = {};
    info.mask = HDI_TEXT | HDI_FORMAT;
    info.pszText = text;
    info.cchTextMax = static_cast<int>(std::size(text));
    ::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&info));
    RECT title = item;
    ::InflateRect(&title, -ScaleForDpi(6, dpi), 0);
    ::DrawTextW(dc, text, -1, &title,
                DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX |
                    ((info.fmt & HDF_JUSTIFYMASK) == HDF_RIGHT ? DT_RIGHT : DT_LEFT));
    if (info.fmt & (HDF_SORTUP | HDF_SORTDOWN)) {
      PaintSortArrow(dc, item, (info.fmt & HDF_SORTDOWN) != 0, dpi, ThemePalette[kParkedSlot]);
    }
    FillWith(dc, {item.right - 1, item.top, item.right, item.bottom}, ThemePalette[kSeparatorSlot]);
  }
  FillWith(dc, {client.left, client.bottom - 1, client.right, client.bottom}, ThemePalette[kSeparatorSlot]);
}

// The subclass's reference is the window's state, which outlives the header.
LRESULT CALLBACK HeaderPainter(HWND header, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR reference) noexcept {
  switch (message) {
    case WM_PAINT:
      if (!DarkModeActive()) break;
      PaintDarkHeader(header, reinterpret_cast<const ProcessesWindowState*>(reference)->dpi);
      return 0;
    case WM_ERASEBKGND:
      if (!DarkModeActive()) break;
      return 1;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(header, HeaderPainter, kHeaderPainterId);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(header, message, wParam, lParam);
}

// While dark and not focused, the list view would draw its selection in the
// system's light "inactive" colour: selected rows take the palette's instead.
LRESULT OnListCustomDraw(const ProcessesWindowState& state, NMLVCUSTOMDRAW& draw) noexcept {
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return DarkModeActive() && ::GetFocus() != state.view ? CDRF_NOTIFYITEMDRAW : CDRF_DODEFAULT;
    case CDDS_ITEMPREPAINT:
      if (::SendMessageW(state.view, LVM_GETITEMSTATE, draw.nmcd.dwItemSpec, LVIS_SELECTED) & LVIS_SELECTED) {
        draw.nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED);
        draw.clrText = ThemePalette[kDialogTextSlot];
        draw.clrTextBk = ThemePalette[kSeparatorSlot];
      }
      return CDRF_DODEFAULT;
    default:
      return CDRF_DODEFAULT;
  }
}

// --- Cell tips --------------------------------------------------------------

// The system's words for an error code, without the line end it ends in.
std::wstring SystemMessage(DWORD error) {
  unique_hlocal buffer;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<LPWSTR>(buffer.put()), 0, nullptr);
  std::wstring text = length > 0 && buffer ? std::wstring(static_cast<const wchar_t*>(buffer.get()), length) : L"";
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  return text;
}

// A method cell explains itself; any other cell whose text the column cuts
// off shows it whole.
std::wstring CellTipText(const ProcessesWindowState& state, int position, int column) {
  if (position < 0 || static_cast<size_t>(position) >= state.order.size() || column < 0 ||
      column >= kProcessColumnCount) {
    return std::wstring();
  }
  const ProcessResult& row = state.rows.processes[state.order[static_cast<size_t>(position)]];
  const auto cell = static_cast<ProcessColumn>(column);
  const int method = column - static_cast<int>(ProcessColumn::EfficiencyMode);
  const DWORD error = method >= 0 && method < static_cast<int>(kPlacementMethodCount)
                          ? row.methods[static_cast<size_t>(method)].error
                          : ERROR_SUCCESS;
  std::wstring tip =
      MethodCellTip(row, cell, state.rows.methodsOn, error != ERROR_SUCCESS ? SystemMessage(error) : L"");
  if (!tip.empty()) return tip;
  std::wstring text = ProcessCellText(row, cell, state.rows.methodsOn);
  const LRESULT width = ::SendMessageW(state.view, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0);
  // The list view leaves about 6 pixels (at 96 DPI) on each side of a cell's text.
  const LRESULT needed = ::SendMessageW(state.view, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str())) +
                         ScaleForDpi(12, state.dpi);
  return !text.empty() && needed > width ? text : std::wstring();
}

// The tip follows the cell under the mouse: moving to another cell hides
// the one shown, and the next shows that cell's tip. The mouse's messages
// come from the dialog loop's filter below, not from a subclass of the list
// view: a subclass adds a lookup to every message the list view gets, and
// a refresh sends it many.
void TrackCellUnderMouse(ProcessesWindowState& state, MSG& message) noexcept {
  if (state.tip == nullptr || message.hwnd != state.view || message.message < WM_MOUSEFIRST ||
      message.message > WM_MOUSELAST) {
    return;
  }
  if (message.message == WM_MOUSEMOVE) {
    LVHITTESTINFO hit = {};
    hit.pt = {static_cast<short>(LOWORD(message.lParam)), static_cast<short>(HIWORD(message.lParam))};
    ::SendMessageW(state.view, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (hit.iItem != state.tipRow || hit.iSubItem != state.tipColumn) {
      state.tipRow = hit.iItem;
      state.tipColumn = hit.iSubItem;
      ::SendMessageW(state.tip, TTM_POP, 0, 0);
    }
  }
  ::SendMessageW(state.tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&message));
}

void CreateCellTips(ProcessesWindowState& state) noexcept {
  state.tipRow = -1;
  state.tipColumn = -1;
  state.tip =
      ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, state.window, nullptr, ProgramInstance(), nullptr);
  if (state.tip == nullptr) return;
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND;
  tool.hwnd = state.window;
  tool.uId = reinterpret_cast<UINT_PTR>(state.view);
  tool.lpszText = LPSTR_TEXTCALLBACKW;
  ::SendMessageW(state.tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  ::SendMessageW(state.tip, TTM_SETMAXTIPWIDTH, 0, ScaleForDpi(400, state.dpi));
}

void OnTipText(ProcessesWindowState& state, NMTTDISPINFOW& info) {
  state.tipText = CellTipText(state, state.tipRow, state.tipColumn);
  info.lpszText = state.tipText.data();
}

// --- Keyboard ---------------------------------------------------------------

// The window lives inside the main window's modal loop, which gives only its
// own dialog the dialog keys. The filter hook, called by every
// IsDialogMessageW of this thread, hands Tab, Escape, Enter and the mnemonics
// of this window's controls to this window, and the mouse over the list to
// the cell tips.
LRESULT CALLBACK DialogLoopHook(int code, WPARAM wParam, LPARAM lParam) noexcept {
  ProcessesWindowState* state = StateOf(OpenWindow);
  auto* message = reinterpret_cast<MSG*>(lParam);
  if (code == MSGF_DIALOGBOX && message != nullptr && state != nullptr && !state->inDialogLoopHook &&
      (message->hwnd == state->window || ::IsChild(state->window, message->hwnd))) {
    const WindowStateUse use(state->window, kDialogStateSlot, *state, WM_NULL);
    TrackCellUnderMouse(*state, *message);
    state->inDialogLoopHook = true;
    const BOOL handled = ::IsDialogMessageW(state->window, message);
    state->inDialogLoopHook = false;
    if (handled) return TRUE;
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// --- Filter box -------------------------------------------------------------

// Escape in a filter box that holds text clears it; in an empty one it
// closes the window, as everywhere else in it.
LRESULT CALLBACK FilterKeys(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) noexcept {
  const bool escape = wParam == VK_ESCAPE;
  switch (message) {
    case WM_GETDLGCODE: {
      const auto* pending = reinterpret_cast<const MSG*>(lParam);
      if (pending != nullptr && pending->message == WM_KEYDOWN && pending->wParam == VK_ESCAPE &&
          ::GetWindowTextLengthW(edit) > 0) {
        return ::DefSubclassProc(edit, message, wParam, lParam) | DLGC_WANTMESSAGE;
      }
      break;
    }
    case WM_KEYDOWN:
      if (escape && ::GetWindowTextLengthW(edit) > 0) {
        ::SetWindowTextW(edit, L"");
        return 0;
      }
      break;
    case WM_CHAR:
      if (wParam == 0x1B) return 0;  // no beep for the Escape just handled
      break;
    case WM_NCDESTROY:
      ::RemoveWindowSubclass(edit, FilterKeys, kFilterKeysId);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(edit, message, wParam, lParam);
}

void OnFilterChanged(ProcessesWindowState& state) {
  const int length = ::GetWindowTextLengthW(::GetDlgItem(state.window, IDC_PROCESS_FILTER));
  std::wstring text(static_cast<size_t>(std::max(length, 0)) + 1, L'\0');
  const int read = ::GetDlgItemTextW(state.window, IDC_PROCESS_FILTER, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(std::max(read, 0)));
  if (text == state.filter) return;
  state.filter = std::move(text);
  ShowRows(state, false);
}

// --- Messages ---------------------------------------------------------------

void InsertColumns(ProcessesWindowState& state) noexcept {
  for (int column = 0; column < kProcessColumnCount; ++column) {
    state.titles[static_cast<size_t>(column)] = LoadResourceText(IDS_PROCESS_COLUMN_FIRST + column);
    LVCOLUMNW info = {};
    info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    info.fmt = column == static_cast<int>(ProcessColumn::Pid) ? LVCFMT_RIGHT : LVCFMT_LEFT;
    info.cx = ScaleForDpi(kDefaultColumnWidths[static_cast<size_t>(column)], state.dpi);
    info.pszText = state.titles[static_cast<size_t>(column)].data();
    info.iSubItem = column;
    ::SendMessageW(state.view, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
  }
}

// The program's icon in the title bar and on the taskbar button, in the
// sizes of the window's DPI.
void SetIcons(ProcessesWindowState& state) noexcept {
  auto load = [&](int width, int height) {
    return static_cast<HICON>(::LoadImageW(ProgramInstance(), MAKEINTRESOURCEW(IDI_TARNWICK), IMAGE_ICON,
                                           SystemMetricForDpi(width, state.dpi), SystemMetricForDpi(height, state.dpi),
                                           0));
  };
  unique_hicon big(load(SM_CXICON, SM_CYICON));
  unique_hicon small(load(SM_CXSMICON, SM_CYSMICON));
  if (big) ::SendMessageW(state.window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
  if (small) ::SendMessageW(state.window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
  // The window shows the new ones now: the former ones can go.
  if (big) state.bigIcon = std::move(big);
  if (small) state.smallIcon = std::move(small);
}

INT_PTR OnInitDialog(ProcessesWindowState& state, HWND window, ProcessesWindowOpening& opening) noexcept {
  OpenWindow = window;
  state.source = opening.source;
  state.list = std::move(opening.list);
  state.settings = opening.settings;
  state.window = window;
  state.view = ::GetDlgItem(window, IDC_PROCESS_VIEW);
  state.addName = ::GetDlgItem(window, IDC_ADD_NAME);
  state.addPath = ::GetDlgItem(window, IDC_ADD_PATH);
  state.viewLabel = ::GetDlgItem(window, IDC_PROCESS_VIEW_LABEL);
  state.countLine = ::GetDlgItem(window, IDC_PROCESS_COUNT);
  state.dpi = WindowDpi(window);
  state.sort = {};
  state.onlyMatched = false;
  state.filter.clear();
  state.countText.clear();
  state.rows = {};
  state.previousRows = {};
  state.order.clear();
  state.previousOrder.clear();
  SetIcons(state);
  ::SendMessageW(state.view, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  InsertColumns(state);
  HWND filter = ::GetDlgItem(window, IDC_PROCESS_FILTER);
  ::SendMessageW(filter, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"Filter"));
  ::SetWindowSubclass(filter, FilterKeys, kFilterKeysId, 0);
  CreateCellTips(state);
  RestoreSizeAndColumns(state);
  ShowSortArrow(state);
  Layout(state);
  state.dialogLoopHook.reset(::SetWindowsHookExW(WH_MSGFILTER, DialogLoopHook, nullptr, ::GetCurrentThreadId()));
  ShowRows(state, true);
  ::SendMessageW(window, WM_THEMECHANGED, 0, 0);
  return TRUE;
}

LRESULT OnGetDisplayInfo(const ProcessesWindowState& state, NMLVDISPINFOW& info) noexcept {
  LVITEMW& item = info.item;
  if (!(item.mask & LVIF_TEXT) || item.pszText == nullptr || item.cchTextMax <= 0) return 0;
  item.pszText[0] = L'\0';
  if (item.iItem < 0 || static_cast<size_t>(item.iItem) >= state.order.size()) return 0;
  if (item.iSubItem < 0 || item.iSubItem >= kProcessColumnCount) return 0;
  const ProcessResult& row = state.rows.processes[state.order[static_cast<size_t>(item.iItem)]];
  const std::wstring text = ProcessCellText(row, static_cast<ProcessColumn>(item.iSubItem), state.rows.methodsOn);
  size_t length = std::min(text.size(), static_cast<size_t>(item.cchTextMax) - 1);
  // A cut between the halves of a surrogate pair would leave half a character.
  if (length > 0 && length < text.size() && IS_HIGH_SURROGATE(text[length - 1])) --length;
  std::memcpy(item.pszText, text.data(), length * sizeof(wchar_t));
  item.pszText[length] = L'\0';
  return 0;
}

// Type-to-find: the list view asks for the row that starts with the letters
// typed so far, from the row after the focused one (or the focused one, as
// more letters of the same word come).
LRESULT OnFindItem(const ProcessesWindowState& state, const NMLVFINDITEMW& find) noexcept {
  if (!(find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || find.lvfi.psz == nullptr) return -1;
  const size_t start = find.iStart >= 0 ? static_cast<size_t>(find.iStart) : 0;
  return FindRowStartingWith(state.rows.processes, state.order, state.sort, find.lvfi.psz, start);
}

void SortBy(ProcessesWindowState& state, ProcessSort sort) {
  state.sort = sort;
  ShowSortArrow(state);
  ShowRows(state, false);
}

INT_PTR Answer(HWND window, LRESULT result) noexcept {
  ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR OnNotify(ProcessesWindowState& state, NMHDR& header) noexcept {
  if (header.hwndFrom == state.tip && state.tip != nullptr && header.code == TTN_GETDISPINFOW) {
    OnTipText(state, reinterpret_cast<NMTTDISPINFOW&>(header));
    return TRUE;
  }
  if (header.hwndFrom != state.view) return FALSE;
  switch (header.code) {
    case LVN_GETDISPINFOW:
      OnGetDisplayInfo(state, reinterpret_cast<NMLVDISPINFOW&>(header));
      return TRUE;
    case NM_CUSTOMDRAW:
      return Answer(state.window, OnListCustomDraw(state, reinterpret_cast<NMLVCUSTOMDRAW&>(header)));
    case LVN_ODFINDITEMW:
      return Answer(state.window, OnFindItem(state, reinterpret_cast<NMLVFINDITEMW&>(header)));
    case NM_DBLCLK:
      // What Enter does: the default button's command.
      if (reinterpret_cast<NMITEMACTIVATE&>(header).iItem >= 0) {
        ::SendMessageW(state.window, WM_COMMAND, MAKEWPARAM(IDC_ADD_NAME, BN_CLICKED), 0);
      }
      return TRUE;
    case LVN_COLUMNCLICK:
      SortBy(state, SortAfterHeaderClick(state.sort, reinterpret_cast<NMLISTVIEW&>(header).iSubItem));
      return TRUE;
    case LVN_ITEMCHANGED:
    case LVN_ODSTATECHANGED:
      if (!state.refreshing) UpdateButtons(state);
      return TRUE;
    case LVN_KEYDOWN: {
      const WORD key = reinterpret_cast<NMLVKEYDOWN&>(header).wVKey;
      if (::GetKeyState(VK_CONTROL) < 0 && key == 'C') CopySelected(state);
      if (::GetKeyState(VK_CONTROL) < 0 && key == 'A') SelectAll(state);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

INT_PTR OnCommand(ProcessesWindowState& state, WPARAM wParam) noexcept {
  switch (LOWORD(wParam)) {
    case IDC_PROCESS_FILTER:
      if (HIWORD(wParam) == EN_CHANGE) OnFilterChanged(state);
      return TRUE;
    case IDM_DEFAULT_ORDER:
      SortBy(state, {});
      return TRUE;
    case IDM_REMOVE_FROM_LIST:
      RemoveSelected(state);
      return TRUE;
    case IDM_OPEN_FILE_LOCATION:
      OpenFileLocation(state);
      return TRUE;
    case IDC_ADD_NAME:
      AddSelected(state, AddWhat::Name);
      return TRUE;
    case IDC_ADD_PATH:
      AddSelected(state, AddWhat::Path);
      return TRUE;
    case IDM_COPY_ROWS:
      CopySelected(state);
      return TRUE;
    case IDC_ONLY_MATCHED:
      state.onlyMatched = ::IsDlgButtonChecked(state.window, IDC_ONLY_MATCHED) == BST_CHECKED;
      ShowRows(state, false);
      return TRUE;
    case IDCANCEL:
      ::DestroyWindow(state.window);
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR OnThemeChanged(ProcessesWindowState& state) noexcept {
  const bool themed = BeginThemeChange(state.window, {&state.dialogBrush});
  // Painted here only while dark: the painter is a subclass, which adds a
  // lookup to every message the header gets, and a refresh sends it many.
  if (HWND header = reinterpret_cast<HWND>(::SendMessageW(state.view, LVM_GETHEADER, 0, 0))) {
    if (DarkModeActive()) {
      ::SetWindowSubclass(header, HeaderPainter, kHeaderPainterId, reinterpret_cast<DWORD_PTR>(&state));
    } else {
      ::RemoveWindowSubclass(header, HeaderPainter, kHeaderPainterId);
    }
  }
  // The list view takes the palette either way; the light palette is the system's colours.
  ::SendMessageW(state.view, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(ThemePalette[kListBackgroundSlot]));
  ::SendMessageW(state.view, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(ThemePalette[kListBackgroundSlot]));
  ::SendMessageW(state.view, LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(ThemePalette[kListTextSlot]));
  if (themed) {
    const bool dark = DarkModeActive();
    AllowWindowDark(state.view, dark);
    SetWindowVisualStyle(state.view, L"Explorer", nullptr);
    HWND header = reinterpret_cast<HWND>(::SendMessageW(state.view, LVM_GETHEADER, 0, 0));
    if (header != nullptr) {
      AllowWindowDark(header, dark);
      SetWindowVisualStyle(header, L"ItemsView", nullptr);
      ::SendMessageW(header, WM_THEMECHANGED, 0, 0);
    }
    ThemeButtons(state.window, {IDC_ADD_NAME, IDC_ADD_PATH, IDCANCEL, IDC_ONLY_MATCHED});
    RedrawFrame(state.window);
  }
  ::RedrawWindow(state.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  return 0;
}

INT_PTR OnDpiChanged(ProcessesWindowState& state, WPARAM wParam, LPARAM lParam) noexcept {
  const int newDpi = LOWORD(wParam);
  if (newDpi <= 0) return 0;
  for (int column = 0; column < kProcessColumnCount; ++column) {
    const int width = static_cast<int>(::SendMessageW(state.view, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    ::SendMessageW(state.view, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), ::MulDiv(width, newDpi, state.dpi));
  }
  state.dpi = newDpi;
  SetIcons(state);
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  if (suggested != nullptr) {
    ::SetWindowPos(state.window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return 0;
}

INT_PTR OnDestroy(ProcessesWindowState& state) noexcept {
  if (OpenWindow == state.window) OpenWindow = nullptr;
  SaveSizeAndColumns(state);
  state.dialogLoopHook.reset();
  state.dialogBrush.Reset();
  state.window = nullptr;
  state.view = nullptr;
  state.addName = nullptr;
  state.addPath = nullptr;
  state.viewLabel = nullptr;
  state.countLine = nullptr;
  state.source = nullptr;
  state.list = {};
  // The copies' storage goes with the window.
  state.rows = {};
  state.order = {};
  state.previousRows = {};
  state.previousOrder = {};
  state.bigIcon.reset();
  state.smallIcon.reset();
  state.tip = nullptr;
  state.tipText.clear();
  return 0;
}

INT_PTR Dispatch(ProcessesWindowState& state, HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case WM_NOTIFY:
      return OnNotify(state, *reinterpret_cast<NMHDR*>(lParam));
    case WM_COMMAND:
      return OnCommand(state, wParam);
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) != state.view) return FALSE;
      ShowContextMenu(state, lParam);
      return TRUE;
    // Neither is laid out once the window is being destroyed.
    case WM_SIZE:
      if (state.window == window) Layout(state);
      return TRUE;
    case WM_GETMINMAXINFO:
      if (state.window == window) {
        const SIZE minimum = MinimumWindowSize(state);
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {minimum.cx, minimum.cy};
      }
      return TRUE;
    case WM_DPICHANGED:
      return OnDpiChanged(state, wParam, lParam);
    case WM_CLOSE:
      ::DestroyWindow(window);
      return TRUE;
    case WM_DESTROY:
      return OnDestroy(state);
    case WMU_PASS_DONE:
      ShowRows(state, true);
      return TRUE;
    case WM_SETTINGCHANGE:
      return HandleSettingChange(window, lParam);
    case WM_THEMECHANGED:
      return OnThemeChanged(state);
    default:
      if (IsDialogColorMessage(message)) return ColorDialogControl(reinterpret_cast<HDC>(wParam), state.dialogBrush);
      return FALSE;
  }
}

INT_PTR CALLBACK ProcessesWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_INITDIALOG) {
    ProcessesWindowState& state = AttachWindowState(window, kDialogStateSlot, std::make_unique<ProcessesWindowState>());
    const WindowStateUse use(window, kDialogStateSlot, state, message);
    return OnInitDialog(state, window, *reinterpret_cast<ProcessesWindowOpening*>(lParam));
  }
  ProcessesWindowState* state = StateOf(window);
  if (state == nullptr) {
    // Sizing messages while the dialog is being made: the system's sizes then.
    return message == WM_SIZE || message == WM_GETMINMAXINFO ? TRUE : FALSE;
  }
  const WindowStateUse use(window, kDialogStateSlot, *state, message);
  return Dispatch(*state, window, message, wParam, lParam);
}

}  // namespace

HWND OpenProcessesWindow(HWND owner, PassResultsExchange& source, ProcessesWindowList list, SettingsStore& settings) {
  if (OpenWindow != nullptr) {
    if (::IsIconic(OpenWindow)) ::ShowWindow(OpenWindow, SW_RESTORE);
    ::SetForegroundWindow(OpenWindow);
    return OpenWindow;
  }
  ProcessesWindowOpening opening{&source, std::move(list), &settings};
  HWND window = ::CreateDialogParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_PROCESSES), owner, ProcessesWindowProc,
                                     reinterpret_cast<LPARAM>(&opening));
  if (window == nullptr) return nullptr;
  ::ShowWindow(window, SW_SHOW);
  return window;
}

HWND ProcessesWindow() noexcept { return OpenWindow; }

void RefreshProcessesWindow() noexcept {
  if (OpenWindow != nullptr) ::SendMessageW(OpenWindow, WMU_PASS_DONE, 0, 0);
}

}  // namespace tarnwick
