#include "ui/processes_window.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/messages.h"
#include "app/resource_text.h"
#include "config/settings_names.h"
#include "platform/unique_handle.h"
#include "res/resource.h"
#include "ui/process_rows.h"
#include "ui/start_watch_label.h"
#include "ui/theme.h"

namespace tarnwick {

namespace {

constexpr int kDefaultDpi = 96;
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

struct ProcessesWindowState {
  HWND window = nullptr;
  HWND view = nullptr;
  PassResultsExchange* source = nullptr;
  AddListEntries addEntries;
  PassResults rows;
  std::vector<uint32_t> order;  // display position -> index into rows.processes
  ProcessSort sort;
  bool onlyMatched = false;
  bool refreshing = false;  // selection changes of a refresh are not the user's
  ProcessColumnTitles titles;
  int dpi = kDefaultDpi;
  SIZE minimumSize = {};
  unique_hhook dialogKeysHook;
  bool inDialogKeysHook = false;
  PaletteBrush dialogBrush{kDialogBackgroundSlot};
};

ProcessesWindowState& State() {
  static ProcessesWindowState state;
  return state;
}

// GetDpiForWindow where this Windows has it (10, 1607 on), else the screen's.
int WindowDpi(HWND window) noexcept {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = [] {
    HMODULE user = ::GetModuleHandleW(L"user32.dll");
    return user == nullptr ? nullptr
                           : reinterpret_cast<GetDpiForWindowFn>(
                                 reinterpret_cast<void (*)()>(::GetProcAddress(user, "GetDpiForWindow")));
  }();
  if (getDpiForWindow != nullptr) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi != 0) return static_cast<int>(dpi);
  }
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSX) : kDefaultDpi;
  if (screen != nullptr) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDefaultDpi;
}

int Scale(int value, int dpi) noexcept { return ::MulDiv(value, dpi, kDefaultDpi); }

std::wstring ColumnWidthSetting(int column) { return L"ProcessesColumn" + std::to_wstring(column) + L"Width"; }

// --- Rows -------------------------------------------------------------------

std::vector<int> SelectedPositions(HWND view) {
  std::vector<int> positions;
  for (int i = static_cast<int>(::SendMessageW(view, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
       i >= 0; i = static_cast<int>(::SendMessageW(view, LVM_GETNEXTITEM, static_cast<WPARAM>(i), LVNI_SELECTED))) {
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
  ::EnableWindow(::GetDlgItem(state.window, IDC_ADD_NAME), any);
  ::EnableWindow(::GetDlgItem(state.window, IDC_ADD_PATH), any);
}

// The rows the list view shows now, top to bottom (a page and one more);
// returns the position of the top one.
size_t CopyVisibleRows(const ProcessesWindowState& state, std::vector<ProcessResult>& visible) {
  const size_t top = static_cast<size_t>(std::max<LRESULT>(::SendMessageW(state.view, LVM_GETTOPINDEX, 0, 0), 0));
  const size_t page = static_cast<size_t>(std::max<LRESULT>(::SendMessageW(state.view, LVM_GETCOUNTPERPAGE, 0, 0), 0));
  visible.clear();
  for (size_t position = top; position < state.order.size() && position <= top + page; ++position) {
    visible.push_back(state.rows.processes[state.order[position]]);
  }
  return top;
}

// Repaints only the band of rows whose content changed, in place from the
// list view's own back buffer (no erase, no flicker): each painted row costs
// text drawing, and under Wine a round trip to the display.
void RedrawChangedRows(HWND view, size_t topBefore, const std::vector<ProcessResult>& before, size_t topAfter,
                       const std::vector<ProcessResult>& after) {
  if (topBefore != topAfter) {
    ::InvalidateRect(view, nullptr, FALSE);
    return;
  }
  const size_t rows = std::max(before.size(), after.size());
  size_t first = rows;
  size_t last = 0;
  for (size_t i = 0; i < rows; ++i) {
    if (i < before.size() && i < after.size() && before[i] == after[i]) continue;
    first = std::min(first, i);
    last = i;
  }
  if (first == rows) return;
  RECT band = {};
  ::GetClientRect(view, &band);
  RECT firstRow = {};
  firstRow.left = LVIR_BOUNDS;
  if (::SendMessageW(view, LVM_GETITEMRECT, topAfter + first, reinterpret_cast<LPARAM>(&firstRow))) {
    band.top = std::max(band.top, firstRow.top);
    RECT lastRow = {};
    lastRow.left = LVIR_BOUNDS;
    // A row past the new end leaves the band open to the bottom.
    if (last < after.size() &&
        ::SendMessageW(view, LVM_GETITEMRECT, topAfter + last, reinterpret_cast<LPARAM>(&lastRow))) {
      band.bottom = std::min(band.bottom, lastRow.bottom);
    }
  }
  ::InvalidateRect(view, &band, FALSE);
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

// Orders the rows anew and hands the count to the list view, which asks for
// the text of the rows it shows. The selection and focus follow their
// processes; the top row stays where it was. Only what changed is touched:
// each of these calls costs the list view, and a pass usually changes nothing
// on screen.
void ShowRows(ProcessesWindowState& state, bool readNewPass) {
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
  if (readNewPass && (state.source == nullptr || !state.source->CopyLatest(state.rows))) return;
  ShowStartWatchLabel(::GetDlgItem(state.window, IDC_PROCESS_VIEW_LABEL), state.rows.startWatch);
  const size_t countBefore = state.order.size();
  OrderProcessRows(state.rows.processes, state.onlyMatched, state.sort, state.order);

  state.refreshing = true;
  if (state.order.size() != countBefore) {
    SetRowCount(state.view, state.order.size());
  }
  const std::vector<int> selectedAfter = PositionsOfKeys(state.rows.processes, state.order, selected);
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
  const std::vector<int> focusAfter = PositionsOfKeys(state.rows.processes, state.order, focused);
  if (focusAfter.empty() && focusBefore >= 0) {
    SetItemState(state.view, focusBefore, 0, LVIS_FOCUSED);
  } else if (!focusAfter.empty() && focusAfter[0] != focusBefore) {
    SetItemState(state.view, focusAfter[0], LVIS_FOCUSED, LVIS_FOCUSED);
  }
  state.refreshing = false;

  std::vector<ProcessResult> visibleAfter;
  const size_t topAfter = CopyVisibleRows(state, visibleAfter);
  RedrawChangedRows(state.view, topBefore, visibleBefore, topAfter, visibleAfter);
  UpdateButtons(state);
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

void AddSelected(ProcessesWindowState& state, AddWhat what) {
  // From the window's copy: a process that ended since still gives its name.
  const std::vector<std::wstring> entries = EntriesToAdd(state.rows.processes, SelectedRows(state), what);
  if (entries.empty() || !state.addEntries) return;
  state.addEntries(state.window, entries);
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
  const std::wstring text = ProcessRowsCopyText(state.titles, state.rows.processes, selected);
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
    const int focus = static_cast<int>(::SendMessageW(state.view, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    at = {0, 0};
    if (focus >= 0 && ::SendMessageW(state.view, LVM_GETITEMRECT, static_cast<WPARAM>(focus), reinterpret_cast<LPARAM>(&row))) {
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
  const int command = static_cast<int>(
      ::TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, state.window, nullptr));
  if (command != 0) ::SendMessageW(state.window, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

// --- Layout and settings ----------------------------------------------------

void Layout(const ProcessesWindowState& state) noexcept {
  HWND window = state.window;
  RECT client = {};
  ::GetClientRect(window, &client);
  // Dialog units: margin, label height, button width and height; then the
  // gap under the label, between buttons, above the buttons, check box height.
  RECT sizes = {7, 8, 50, 14};
  RECT gaps = {3, 4, 7, 10};
  ::MapDialogRect(window, &sizes);
  ::MapDialogRect(window, &gaps);
  const int margin = static_cast<int>(sizes.left);
  const int labelHeight = static_cast<int>(sizes.top);
  const int buttonWidth = static_cast<int>(sizes.right);
  const int buttonHeight = static_cast<int>(sizes.bottom);
  const int checkHeight = static_cast<int>(gaps.bottom);
  const int width = static_cast<int>(client.right);
  const int buttonTop = static_cast<int>(client.bottom) - margin - buttonHeight;
  const int viewTop = margin + labelHeight + static_cast<int>(gaps.left);
  const int viewBottom = std::max(viewTop, buttonTop - static_cast<int>(gaps.right));
  HDWP positions = ::BeginDeferWindowPos(6);
  auto place = [&](int id, int x, int y, int cx, int cy) {
    if (positions != nullptr) {
      positions = ::DeferWindowPos(positions, ::GetDlgItem(window, id), nullptr, x, y, std::max(cx, 0),
                                   std::max(cy, 0), SWP_NOZORDER | SWP_NOACTIVATE);
    }
  };
  place(IDC_PROCESS_VIEW_LABEL, margin, margin, width - 2 * margin, labelHeight);
  place(IDC_PROCESS_VIEW, margin, viewTop, width - 2 * margin, viewBottom - viewTop);
  int right = width - margin;
  for (const int id : {IDCANCEL, IDC_ADD_PATH, IDC_ADD_NAME}) {
    place(id, right - buttonWidth, buttonTop, buttonWidth, buttonHeight);
    right -= buttonWidth + static_cast<int>(gaps.top);
  }
  place(IDC_ONLY_MATCHED, margin, buttonTop + (buttonHeight - checkHeight) / 2, right - margin, checkHeight);
  if (positions != nullptr) ::EndDeferWindowPos(positions);
}

void RestoreSizeAndColumns(ProcessesWindowState& state) noexcept {
  uint32_t width = 0;
  uint32_t height = 0;
  const bool stored = UserSettings->ReadNumber(kProcessesWindowWidth, width) &&
                      UserSettings->ReadNumber(kProcessesWindowHeight, height);
  if (stored && width >= kMinStoredWindowSize && width <= kMaxStoredWindowSize && height >= kMinStoredWindowSize &&
      height <= kMaxStoredWindowSize) {
    const int pixelWidth = Scale(static_cast<int>(width), state.dpi);
    const int pixelHeight = Scale(static_cast<int>(height), state.dpi);
    // Centred over the owner, as the template's own size is.
    RECT owner = {};
    HWND ownerWindow = ::GetWindow(state.window, GW_OWNER);
    if (ownerWindow == nullptr || !::GetWindowRect(ownerWindow, &owner)) ::GetWindowRect(state.window, &owner);
    const int x = (owner.left + owner.right - pixelWidth) / 2;
    const int y = (owner.top + owner.bottom - pixelHeight) / 2;
    ::SetWindowPos(state.window, nullptr, std::max(x, 0), std::max(y, 0), pixelWidth, pixelHeight,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (int column = 0; column < kProcessColumnCount; ++column) {
    uint32_t columnWidth = 0;
    int width96 = kDefaultColumnWidths[static_cast<size_t>(column)];
    if (UserSettings->ReadNumber(ColumnWidthSetting(column).c_str(), columnWidth) &&
        columnWidth >= kMinStoredColumnWidth && columnWidth <= kMaxStoredColumnWidth) {
      width96 = static_cast<int>(columnWidth);
    }
    ::SendMessageW(state.view, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), Scale(width96, state.dpi));
  }
}

void SaveSizeAndColumns(const ProcessesWindowState& state) noexcept {
  WINDOWPLACEMENT placement = {};
  placement.length = sizeof(placement);
  if (::GetWindowPlacement(state.window, &placement)) {
    const RECT& normal = placement.rcNormalPosition;
    UserSettings->WriteValue(kProcessesWindowWidth,
                             static_cast<uint32_t>(::MulDiv(normal.right - normal.left, kDefaultDpi, state.dpi)));
    UserSettings->WriteValue(kProcessesWindowHeight,
                             static_cast<uint32_t>(::MulDiv(normal.bottom - normal.top, kDefaultDpi, state.dpi)));
  }
  for (int column = 0; column < kProcessColumnCount; ++column) {
    const int width = static_cast<int>(::SendMessageW(state.view, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    if (width <= 0) continue;
    UserSettings->WriteValue(ColumnWidthSetting(column).c_str(),
                             static_cast<uint32_t>(::MulDiv(width, kDefaultDpi, state.dpi)));
  }
}

// --- Keyboard ---------------------------------------------------------------

// The main window's modal loop gives only its own dialog the dialog keys; the
// filter hook, called by every IsDialogMessageW of this thread, hands Tab,
// Escape, Enter and the mnemonics of this window's controls to this window.
LRESULT CALLBACK DialogKeysHook(int code, WPARAM wParam, LPARAM lParam) noexcept {
  ProcessesWindowState& state = State();
  auto* message = reinterpret_cast<MSG*>(lParam);
  if (code == MSGF_DIALOGBOX && message != nullptr && state.window != nullptr && !state.inDialogKeysHook &&
      (message->hwnd == state.window || ::IsChild(state.window, message->hwnd))) {
    state.inDialogKeysHook = true;
    const BOOL handled = ::IsDialogMessageW(state.window, message);
    state.inDialogKeysHook = false;
    if (handled) return TRUE;
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// --- Messages ---------------------------------------------------------------

void InsertColumns(ProcessesWindowState& state) noexcept {
  for (int column = 0; column < kProcessColumnCount; ++column) {
    state.titles[static_cast<size_t>(column)] = LoadResourceText(IDS_PROCESS_COLUMN_FIRST + column);
    LVCOLUMNW info = {};
    info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    info.fmt = column == static_cast<int>(ProcessColumn::kPid) ? LVCFMT_RIGHT : LVCFMT_LEFT;
    info.cx = Scale(kDefaultColumnWidths[static_cast<size_t>(column)], state.dpi);
    info.pszText = state.titles[static_cast<size_t>(column)].data();
    info.iSubItem = column;
    ::SendMessageW(state.view, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
  }
}

INT_PTR OnInitDialog(HWND window) noexcept {
  ProcessesWindowState& state = State();
  state.window = window;
  state.view = ::GetDlgItem(window, IDC_PROCESS_VIEW);
  state.dpi = WindowDpi(window);
  state.sort = {};
  state.onlyMatched = false;
  state.rows = {};
  state.order.clear();
  RECT frame = {};
  ::GetWindowRect(window, &frame);
  state.minimumSize = {(frame.right - frame.left) / 2, (frame.bottom - frame.top) / 2};
  ::SendMessageW(state.view, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_LABELTIP);
  InsertColumns(state);
  RestoreSizeAndColumns(state);
  Layout(state);
  state.dialogKeysHook.reset(::SetWindowsHookExW(WH_MSGFILTER, DialogKeysHook, nullptr, ::GetCurrentThreadId()));
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
  const std::wstring text = ProcessCellText(row, static_cast<ProcessColumn>(item.iSubItem));
  size_t length = std::min(text.size(), static_cast<size_t>(item.cchTextMax) - 1);
  // A cut between the halves of a surrogate pair would leave half a character.
  if (length > 0 && length < text.size() && IS_HIGH_SURROGATE(text[length - 1])) --length;
  std::memcpy(item.pszText, text.data(), length * sizeof(wchar_t));
  item.pszText[length] = L'\0';
  return 0;
}

INT_PTR OnNotify(ProcessesWindowState& state, NMHDR& header) noexcept {
  if (header.hwndFrom != state.view) return FALSE;
  switch (header.code) {
    case LVN_GETDISPINFOW:
      OnGetDisplayInfo(state, reinterpret_cast<NMLVDISPINFOW&>(header));
      return TRUE;
    case LVN_COLUMNCLICK:
      state.sort = SortAfterHeaderClick(state.sort, reinterpret_cast<NMLISTVIEW&>(header).iSubItem);
      ShowSortArrow(state);
      ShowRows(state, false);
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
    case IDC_ADD_NAME:
      AddSelected(state, AddWhat::kName);
      return TRUE;
    case IDC_ADD_PATH:
      AddSelected(state, AddWhat::kPath);
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
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  if (suggested != nullptr) {
    ::SetWindowPos(state.window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return 0;
}

INT_PTR OnDestroy(ProcessesWindowState& state) noexcept {
  SaveSizeAndColumns(state);
  state.dialogKeysHook.reset();
  state.dialogBrush.Reset();
  state.window = nullptr;
  state.view = nullptr;
  state.source = nullptr;
  state.addEntries = nullptr;
  // The copy's storage goes with the window.
  state.rows = {};
  state.order = {};
  return 0;
}

INT_PTR CALLBACK ProcessesWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  ProcessesWindowState& state = State();
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(window);
    case WM_NOTIFY:
      return OnNotify(state, *reinterpret_cast<NMHDR*>(lParam));
    case WM_COMMAND:
      return OnCommand(state, wParam);
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) != state.view) return FALSE;
      ShowContextMenu(state, lParam);
      return TRUE;
    case WM_SIZE:
      // Also sent while the dialog is being made, before WM_INITDIALOG.
      if (state.window == window) Layout(state);
      return TRUE;
    case WM_GETMINMAXINFO:
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {state.minimumSize.cx, state.minimumSize.cy};
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

}  // namespace

HWND OpenProcessesWindow(HWND owner, PassResultsExchange& source, AddListEntries addEntries) {
  ProcessesWindowState& state = State();
  if (state.window != nullptr) {
    if (::IsIconic(state.window)) ::ShowWindow(state.window, SW_RESTORE);
    ::SetForegroundWindow(state.window);
    return state.window;
  }
  state.source = &source;
  state.addEntries = std::move(addEntries);
  HWND window = ::CreateDialogParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_PROCESSES), owner, ProcessesWindowProc, 0);
  if (window == nullptr) {
    state.source = nullptr;
    state.addEntries = nullptr;
    return nullptr;
  }
  ::ShowWindow(window, SW_SHOW);
  return window;
}

HWND ProcessesWindow() noexcept { return State().window; }

void RefreshProcessesWindow() noexcept {
  if (HWND window = State().window) ::SendMessageW(window, WMU_PASS_DONE, 0, 0);
}

}  // namespace tarnwick
