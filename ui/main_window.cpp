#include "ui/main_window.h"

#include <windows.h>
#include <commctrl.h>
#include <uxtheme.h>

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "config/process_list.h"
#include "config/settings_names.h"
#include "config/settings_store.h"
#include "enforce/worker.h"
#include "monitor/graph_geometry.h"
#include "monitor/graph_state.h"
#include "platform/gdi_scope.h"
#include "platform/resource_text.h"
#include "platform/unique_handle.h"
#include "platform/win32_program_starter.h"
#include "platform/window_dpi.h"
#include "monitor/graph_geometry.h"
#include "platform/window_state.h"
#include "res/resource.h"
#include "ui/about_dialog.h"
#include "ui/add_entry_dialog.h"
#include "ui/dark_painters.h"
#include "ui/dialog_dpi.h"
#include "ui/download_dialog.h"
#include "ui/list_box_text.h"
#include "ui/list_edit.h"
#include "ui/messages.h"
#include "ui/processes_window.h"
#include "ui/program_instance.h"
#include "ui/status_format.h"
#include "ui/theme.h"
#include "update/update_check.h"
#include "update/update_download.h"
#include "update/version.h"

namespace tarnwick {

namespace {

constexpr const wchar_t* kCaption = L"Tarnwick";
constexpr UINT kSampleIntervalMs = 1000;

// The placement methods of the "Methods" menu, each a switch of its own.
struct MethodSwitch {
  int command;
  const wchar_t* setting;
  bool defaultOn;
};
constexpr std::array<MethodSwitch, 3> kMethodSwitches = {{
    {IDM_EFFICIENCY_MODE_OFF, kMethodEfficiencyMode, true},
    {IDM_CPU_AFFINITIES, kMethodCpuAffinity, false},
    {IDM_CPU_SETS, kMethodCpuSets, false},
}};

// The main window's own state. The window is modal: OpenMainWindow keeps
// its state for the time the window is open and reads how it was closed.
struct MainWindowState {
  // What the window uses of the program, as the last opening was handed it.
  std::optional<MainWindowLinks> links;
  HWND StatusBarHandle = nullptr;
  // The DPI the window is laid out at: its monitor's at the opening, then
  // that of each WM_DPICHANGED.
  int dpi = kDefaultDpi;
  unique_hfont CaptionFont;
  unique_hfont CountFont;
  unique_hfont statusFont;  // the status bar's, at the window's DPI
  unique_hicon bigIcon;
  // The entry a double-click opened in the add flow. It stays listed (box,
  // file, worker) until the dialog returns another text.
  std::optional<std::wstring> PendingEntryText;
  std::vector<HWND> ThemedChildList;
  bool PassEventRegistered = false;
  bool closedWithOk = false;
  // How the list file was found at the opening. One that is too large, cannot
  // be read or decoded, or holds what the list box cannot hold, is never
  // overwritten.
  ListFileStatus listFileStatus = ListFileStatus::Missing;
  DWORD listReadError = ERROR_SUCCESS;
  size_t listUndecodableLine = 0;
  bool listHasZeroCharacter = false;
  // What the file holds: as read at the opening, then as each save wrote it.
  // A failed save puts the list box back to it, so that the box, the file and
  // the worker (restarted after every save) agree.
  std::vector<std::wstring> savedEntries;
  StatusDisplay status;
  PaletteBrush DialogBrush{kDialogBackgroundSlot};
  PaletteBrush ListBrush{kListBackgroundSlot};
};

// Set at WM_INITDIALOG; the procedure handles no message before it.
MainWindowState& State(HWND window) noexcept { return *WindowStateOf<MainWindowState>(window, kDialogStateSlot); }

const MainWindowLinks& Links(HWND window) { return *State(window).links; }

HWND ListBox(HWND window) noexcept { return ::GetDlgItem(window, IDC_PROCESS_LIST); }

void AddToListBox(HWND window, const std::wstring& entry) noexcept {
  ::SendMessageW(ListBox(window), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
}

// Every edit is saved at once and announced, so that a running worker
// restarts with it. A save that failed has told the user and the list box
// shows what the file holds, which the worker still runs with.
bool SaveAndAnnounce(HWND window, const ListChange& change) noexcept {
  if (::SendMessageW(window, WMU_SAVE_LIST, 0, reinterpret_cast<LPARAM>(&change)) == 0) return false;
  ::SendMessageW(Links(window).trayWindow.load(), WMU_LIST_CHANGED, 0, 0);
  return true;
}

// The system's own words for an error code, without the final line end.
std::wstring SystemErrorText(DWORD error) {
  unique_hlocal buffer;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<LPWSTR>(buffer.put()), 0, nullptr);
  std::wstring text;
  if (length > 0 && buffer) text.assign(static_cast<const wchar_t*>(buffer.get()), length);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
  if (!text.empty()) return text;
  // The reasons the save itself gives, in the system's words, for systems
  // without them (Wine has neither).
  if (error == ERROR_FILE_READ_ONLY) return LoadResourceText(IDS_FILE_READ_ONLY);
  if (error == kErrorDirectoryNotSupported) return LoadResourceText(IDS_DIRECTORY_NOT_SUPPORTED);
  return FillTextFields(LoadResourceText(IDS_ERROR_NUMBER), {std::to_wstring(error)});
}

bool IsRefusedStatus(ListFileStatus status) noexcept {
  return status == ListFileStatus::TooLarge || status == ListFileStatus::Unreadable ||
         status == ListFileStatus::Undecodable;
}

bool ListFileRefused(HWND window) noexcept {
  return IsRefusedStatus(State(window).listFileStatus) || State(window).listHasZeroCharacter;
}

// Why the list file was not opened, and that no edit will replace it.
std::wstring ListFileRefusedText(const std::wstring& listFilePath, ListFileStatus status, DWORD readError,
                                 size_t undecodableLine, bool zeroCharacter) {
  if (status == ListFileStatus::Undecodable && undecodableLine != 0) {
    return FillTextFields(LoadResourceText(IDS_LIST_FILE_MIXED_ENCODINGS),
                          {std::to_wstring(undecodableLine), listFilePath});
  }
  if (status == ListFileStatus::TooLarge) {
    constexpr uint64_t kMebibyte = 1024 * 1024;
    static_assert(kMaxListFileBytes % kMebibyte == 0, "the limit is told in whole MiB");
    return FillTextFields(LoadResourceText(IDS_LIST_FILE_TOO_LARGE),
                          {listFilePath, std::to_wstring(kMaxListFileBytes / kMebibyte)});
  }
  if (status == ListFileStatus::Undecodable) {
    return FillTextFields(LoadResourceText(IDS_LIST_FILE_ENCODING_UNKNOWN), {listFilePath});
  }
  if (zeroCharacter) return FillTextFields(LoadResourceText(IDS_LIST_FILE_ZERO_CHARACTER), {listFilePath});
  return FillTextFields(LoadResourceText(IDS_LIST_FILE_UNREADABLE), {listFilePath, SystemErrorText(readError)});
}

void ShowListFileRefused(HWND window) noexcept {
  const MainWindowState& state = State(window);
  const std::wstring text = ListFileRefusedText(Links(window).listFilePath, state.listFileStatus, state.listReadError,
                                                state.listUndecodableLine, state.listHasZeroCharacter);
  ::MessageBoxW(window, text.c_str(), kCaption, MB_ICONERROR);
}

void ShowSaveFailed(HWND window, const ListFileSave& save) noexcept {
  const std::wstring text =
      save.keptCopy.empty() ? FillTextFields(LoadResourceText(IDS_LIST_SAVE_FAILED),
                                             {Links(window).listFilePath, SystemErrorText(save.error)})
                            : FillTextFields(LoadResourceText(IDS_LIST_SAVE_FAILED_KEPT_COPY),
                                             {Links(window).listFilePath, SystemErrorText(save.error), save.keptCopy});
  ::MessageBoxW(window, text.c_str(), kCaption, MB_ICONERROR);
}

// --- Initialisation ---------------------------------------------------------

// The window's own fonts at its DPI: the caption font (the dark status bar's),
// the count label's (the caption font twice as high and bold) and the status
// bar's. The former ones are handed back, to be released once no control
// draws with them any more.
struct MainWindowFonts {
  unique_hfont caption;
  unique_hfont count;
  unique_hfont status;
};

MainWindowFonts ReplaceFonts(HWND window, MainWindowState& state) noexcept {
  NONCLIENTMETRICSW metrics = {};
  static_assert(sizeof(metrics) == 504);
  MainWindowFonts former;
  if (!NonClientMetricsForDpi(state.dpi, metrics)) return former;
  LOGFONTW large = metrics.lfCaptionFont;
  large.lfHeight *= 2;
  large.lfWeight *= 2;
  former.caption = std::exchange(state.CaptionFont, unique_hfont(::CreateFontIndirectW(&metrics.lfCaptionFont)));
  former.count = std::exchange(state.CountFont, unique_hfont(::CreateFontIndirectW(&large)));
  former.status = std::exchange(state.statusFont, unique_hfont(::CreateFontIndirectW(&metrics.lfStatusFont)));
  ::SendDlgItemMessageW(window, IDC_COUNT_LABEL, WM_SETFONT, reinterpret_cast<WPARAM>(state.CountFont.get()), TRUE);
  if (state.StatusBarHandle != nullptr && state.statusFont) {
    ::SendMessageW(state.StatusBarHandle, WM_SETFONT, reinterpret_cast<WPARAM>(state.statusFont.get()), TRUE);
  }
  return former;
}

BOOL CALLBACK CollectThemedChild(HWND child, LPARAM windowParameter) noexcept {
  const auto window = reinterpret_cast<HWND>(windowParameter);
  State(window).ThemedChildList.push_back(child);
  return TRUE;
}

// The big icon (32 x 32 at 96 DPI) at the window's DPI, from the icon's
// nearest larger image. The window keeps it until it has the next one.
void SetBigIcon(HWND window, MainWindowState& state) noexcept {
  unique_hicon icon = LoadIconForDpi(ProgramInstance(), IDI_TARNWICK, SM_CXICON, state.dpi);
  if (!icon) return;
  ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon.get()));
  state.bigIcon = std::move(icon);
}

void CreateStatusBar(HWND window) noexcept {
  MainWindowState& state = State(window);
  state.StatusBarHandle =
      ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_BAR)), ProgramInstance(), nullptr);
  if (state.statusFont) {
    ::SendMessageW(state.StatusBarHandle, WM_SETFONT, reinterpret_cast<WPARAM>(state.statusFont.get()), FALSE);
  }
  std::array<int, kStatusPartCount> edges = {};
  ::SendMessageW(state.StatusBarHandle, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

// The hidden placeholder's rectangle in client coordinates: where the graph goes.
RECT PlaceholderRect(HWND window) noexcept {
  RECT placeholder = {};
  ::GetWindowRect(::GetDlgItem(window, IDC_GRAPH_PLACEHOLDER), &placeholder);
  ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&placeholder), 2);
  return placeholder;
}

void CreateGraphOverPlaceholder(HWND window, GraphState& graph) noexcept {
  const RECT placeholder = PlaceholderRect(window);
  if (!RegisterGraphClass(graph, ProgramInstance())) return;
  CreateGraph(graph, window, placeholder.left, placeholder.top, placeholder.right - placeholder.left,
              placeholder.bottom - placeholder.top);
  StartSampling(graph);
}

// Once set, the menu belongs to the window, which destroys it with itself.
void SetMenuBar(HWND window) noexcept {
  unique_hmenu menu(::LoadMenuW(ProgramInstance(), MAKEINTRESOURCEW(IDR_MAIN_MENU)));
  if (menu && ::SetMenu(window, menu.get())) (void)menu.release();
}

// The E-core markers, light and dark, drawn at each size of kMarkerSizes;
// each is loaded on first need and kept for the process.
HBITMAP EfficiencyMarkBitmap(bool dark, int size) noexcept {
  struct MarkerResources {
    int size;
    int light;
    int dark;
  };
  static constexpr MarkerResources kResources[] = {
      {16, IDB_EFFICIENCY_MARK_LIGHT, IDB_EFFICIENCY_MARK_DARK},
      {20, IDB_EFFICIENCY_MARK_LIGHT_20, IDB_EFFICIENCY_MARK_DARK_20},
      {24, IDB_EFFICIENCY_MARK_LIGHT_24, IDB_EFFICIENCY_MARK_DARK_24},
      {32, IDB_EFFICIENCY_MARK_LIGHT_32, IDB_EFFICIENCY_MARK_DARK_32},
  };
  static_assert(std::size(kResources) == std::size(kMarkerSizes));
  static std::array<std::array<unique_hbitmap, 2>, std::size(kResources)> loaded;
  for (size_t index = 0; index < std::size(kResources); ++index) {
    if (kResources[index].size != size) continue;
    unique_hbitmap& bitmap = loaded[index][dark ? 1 : 0];
    if (!bitmap) {
      const int id = dark ? kResources[index].dark : kResources[index].light;
      bitmap.reset(static_cast<HBITMAP>(::LoadImageW(ProgramInstance(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, 0)));
    }
    return bitmap.get();
  }
  return nullptr;
}

// The graph takes the palette's colours and the matching marker at its DPI,
// whether or not the system offers dark mode.
void ColourGraph(GraphState& graph) noexcept {
  const bool dark = DarkModeActive();
  MarkerLook marker;
  marker.bitmap = EfficiencyMarkBitmap(dark, MarkerSizeForDpi(graph.dpi));
  // The light marker darkens the cell; the dark one is drawn black-transparent.
  marker.blendWithAnd = !dark;
  SetGraphColours(graph, GraphColoursFromPalette(ThemePalette), marker);
}

// With dark mode supported, the graph window and its cells may be drawn dark
// by the system (their tooltips, the cells' visual style); the group boxes
// keep no visual style, so their titles take the graph's colours.
void ThemeGraphWindows(HWND window, GraphState& graph) noexcept {
  if (graph.graphWindow == nullptr) return;
  SetWindowVisualStyle(graph.graphWindow, L"Explorer", nullptr);
  AllowWindowDark(graph.graphWindow, true);
  for (const auto& panel : graph.panels) {
    AllowWindowDark(panel->groupBox, true);
    SetWindowVisualStyle(panel->groupBox, L"", L"");
    for (HWND cell : PanelCells(*panel)) {
      SetWindowVisualStyle(cell, L"Explorer", nullptr);
      AllowWindowDark(cell, true);
    }
  }
  bool unthemedBars = false;
  Links(window).settings.ReadFlag(kNoThemedProgressBars, unthemedBars, false);
  if (!unthemedBars) return;
  for (const auto& panel : graph.panels) {
    SetWindowVisualStyle(panel->groupBox, L"", L"");
    for (HWND cell : PanelCells(*panel)) SetWindowVisualStyle(cell, L"", L"");
  }
}

// The menu bar and the status bar take their rows from the client area the
// template laid out: the window grows by them, so that the status bar covers
// no control at any DPI. The frame is the one the window has now.
void FitClientToTemplate(HWND window, bool keepCentre) noexcept {
  const SIZE layout = DialogTemplateClientSize(window);
  RECT statusBar = {};
  ::GetWindowRect(State(window).StatusBarHandle, &statusBar);
  RECT place = {};
  RECT client = {};
  if (layout.cx <= 0 || !::GetWindowRect(window, &place) || !::GetClientRect(window, &client)) return;
  const int width = layout.cx + (place.right - place.left) - client.right;
  const int height = layout.cy + (statusBar.bottom - statusBar.top) + (place.bottom - place.top) - client.bottom;
  const int top = keepCentre ? place.top - (height - (place.bottom - place.top)) / 2 : place.top;
  const int left = keepCentre ? place.left - (width - (place.right - place.left)) / 2 : place.left;
  ::SetWindowPos(window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CALLBACK SampleTimerProc(HWND, UINT, UINT_PTR, DWORD) noexcept { SampleTick(SharedGraphState()); }

// The list box shows `entries`, keeping the selected entry and the scroll
// position where they still exist.
void ShowEntries(HWND window, const std::vector<std::wstring>& entries) noexcept {
  HWND list = ListBox(window);
  const std::optional<std::wstring> selected = ReadListBoxEntry(list, ::SendMessageW(list, LB_GETCURSEL, 0, 0));
  const LRESULT top = ::SendMessageW(list, LB_GETTOPINDEX, 0, 0);
  ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
  AddListBoxEntries(list, entries);
  if (top > 0) ::SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
  if (selected) {
    const LRESULT found = FindListBoxEntry(list, *selected);
    if (found >= 0) ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(found), 0);
  }
}

// The window takes what a read of the list file found: the entries, or, for
// a file that is refused, no entries and no edit buttons.
void TakeListFile(HWND window, ListFileStatus status, const ListFileReading& reading,
                  const std::vector<std::wstring>& entries) noexcept {
  MainWindowState& state = State(window);
  state.listFileStatus = status;
  state.listReadError = reading.error;
  state.listUndecodableLine = reading.undecodableLine;
  state.listHasZeroCharacter = !ListBoxCanHoldEntries(entries);
  const bool refused = ListFileRefused(window);
  // Nothing to edit, and no edit may replace the file.
  for (const int button : {IDC_ADD, IDC_REMOVE, IDC_CLEAR_ALL}) ::EnableWindow(::GetDlgItem(window, button), !refused);
  state.savedEntries = refused ? std::vector<std::wstring>() : entries;
  // What the list box can show of a file with a zero character is shown.
  ShowEntries(window, refused && !state.listHasZeroCharacter ? std::vector<std::wstring>() : entries);
}

void LoadListIntoListBox(HWND window) noexcept {
  std::vector<std::wstring> entries;
  ListFileReading reading;
  const ListFileStatus status = ReadProcessListFile(Links(window).listFilePath, entries, &reading);
  Links(window).knownListFileStamp = reading.stamp;
  if (reading.restored) ::PostMessageW(window, WMU_SHOW_LIST_FILE_RESTORED, 0, 0);
  TakeListFile(window, status, reading, entries);
  if (ListFileRefused(window)) ::PostMessageW(window, WMU_SHOW_LIST_FILE_REFUSED, 0, 0);
}

// Another program changed the list file (the tray window saw it): the window
// shows what it holds now, and says so once when it is refused.
INT_PTR OnListFileChanged(HWND window) noexcept {
  MainWindowState& state = State(window);
  std::vector<std::wstring> entries;
  ListFileReading reading;
  const ListFileStatus status = ReadProcessListFile(Links(window).listFilePath, entries, &reading);
  Links(window).knownListFileStamp = reading.stamp;
  const bool refused = IsRefusedStatus(status) || !ListBoxCanHoldEntries(entries);
  if (!ListFileRefused(window) && !refused && entries == state.savedEntries) return 0;
  TakeListFile(window, status, reading, entries);
  if (reading.restored) ShowListFileRestored(window, Links(window).listFilePath);
  if (ListFileRefused(window)) ShowListFileRefused(window);
  return 0;
}

INT_PTR OnInitDialog(HWND window, GraphState& graph) noexcept {
  MainWindowState& state = State(window);
  Links(window).mainWindow = window;
  state.ThemedChildList.clear();
  state.status.Reset();
  state.closedWithOk = false;
  // First: only the template's controls exist yet.
  EnableDialogDpiScaling(window);
  state.dpi = WindowDpi(window);
  (void)ReplaceFonts(window, state);
  if (DarkModeSupported()) {
    InstallMenuBarPainter(window);
    // Only the template's controls exist yet: they are the ones themed with the window.
    ::EnumChildWindows(window, CollectThemedChild, reinterpret_cast<LPARAM>(window));
  }
  SetBigIcon(window, state);
  ::SetDlgItemTextW(window, IDC_VERSION, (L"v" + std::wstring(CurrentVersionText)).c_str());
  CreateStatusBar(window);
  CreateGraphOverPlaceholder(window, graph);
  ::SetTimer(window, IDT_SAMPLE, kSampleIntervalMs, SampleTimerProc);
  SetMenuBar(window);
  FitClientToTemplate(window, /*keepCentre=*/true);
  ::SetDlgItemTextW(window, IDC_DESCRIPTION, LoadResourceText(IDS_DESCRIPTION).c_str());
  LoadListIntoListBox(window);
  if (!state.PassEventRegistered) {
    RegisterPassNotifyEvent(Links(window).worker, Links(window).passDoneEvent);
    state.PassEventRegistered = true;
  }
  ::SendMessageW(window, WMU_PASS_DONE, 0, 0);
  ::SendMessageW(window, WM_THEMECHANGED, 0, 0);
  // TRUE: the dialog manager focuses the first tab stop, the list box.
  return TRUE;
}

// --- List editing -----------------------------------------------------------

void ShowAlreadyListed(HWND window) noexcept {
  ::MessageBoxW(window, LoadResourceText(IDS_ITEM_ALREADY_LISTED).c_str(), kCaption, MB_ICONERROR);
}

void OnAdd(HWND window) noexcept {
  MainWindowState& state = State(window);
  std::wstring entry = state.PendingEntryText.value_or(std::wstring());
  const bool accepted = RunAddEntryDialog(window, entry) == 0;
  const std::optional<std::wstring> edited = std::move(state.PendingEntryText);
  state.PendingEntryText.reset();
  // Cancelled, or confirmed empty or unchanged: the list stays as it is.
  if (!accepted || entry.empty() || entry == edited) return;
  ListChange change;
  if (edited) {
    change.kind = ListChange::Kind::Edit;
    change.entry = *edited;
    change.replacement = std::move(entry);
  } else {
    change.added.push_back(std::move(entry));
  }
  SaveAndAnnounce(window, change);
}

// Entries chosen in the Running processes window take the Add dialog's way
// into the list. A list file that is refused as a whole is said to be so over
// the window the user clicked in, rather than nothing happening.
void AddEntriesFromProcesses(HWND window, HWND messageOwner, std::span<const std::wstring> entries) noexcept {
  if (ListFileRefused(window)) {
    ShowListFileRefused(messageOwner);
    return;
  }
  (void)AddEntriesToList(window, std::vector<std::wstring>(entries.begin(), entries.end()));
}

// "Remove From List" in the Running processes window takes Remove's way out
// of the list: every entry equal to the pattern (letter case ignored) goes.
void RemoveEntryFromProcesses(HWND window, HWND messageOwner, const std::wstring& entry) noexcept {
  if (ListFileRefused(window)) {
    ShowListFileRefused(messageOwner);
    return;
  }
  // Each listed spelling of the pattern is one Remove, applied to what the
  // file holds when it is saved, as Remove in this window is.
  for (const std::wstring& listed : ReadListBoxEntries(ListBox(window))) {
    if (!IsAlreadyListed(std::span<const std::wstring>(&entry, 1), listed)) continue;
    ListChange change;
    change.kind = ListChange::Kind::Remove;
    change.entry = listed;
    if (!SaveAndAnnounce(window, change)) return;
  }
}

void OpenProcesses(HWND window) noexcept {
  ProcessesWindowList list;
  list.add = [window](HWND messageOwner, std::span<const std::wstring> entries) {
    AddEntriesFromProcesses(window, messageOwner, entries);
  };
  list.listed = [window] { return ReadListBoxEntries(ListBox(window)); };
  list.remove = [window](HWND messageOwner, const std::wstring& entry) {
    RemoveEntryFromProcesses(window, messageOwner, entry);
  };
  static Win32ProgramStarter starter;
  list.starter = &starter;
  OpenProcessesWindow(window, Links(window).worker.results, std::move(list), Links(window).settings);
}

void ShowEntryTooLongToEdit(HWND window, size_t length) noexcept {
  const std::wstring text = FillTextFields(LoadResourceText(IDS_ENTRY_TOO_LONG_TO_EDIT),
                                           {std::to_wstring(length), Links(window).listFilePath});
  ::MessageBoxW(window, text.c_str(), kCaption, MB_ICONINFORMATION);
}

// A double-click edits the selected entry in the add flow. It stays in the
// list box (and so in every save meanwhile) until the dialog returns another
// text; one longer than the dialog takes is not opened, so never cut.
void OnEditSelected(HWND window) noexcept {
  HWND list = ListBox(window);
  const LRESULT selected = ::SendMessageW(list, LB_GETCURSEL, 0, 0);
  std::optional<std::wstring> text = ReadListBoxEntry(list, selected);
  if (!text) return;
  if (text->size() >= kMaxEntryLength) {
    ShowEntryTooLongToEdit(window, text->size());
    return;
  }
  State(window).PendingEntryText = std::move(text);
  ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_ADD, BN_CLICKED), 0);
}

void OnRemove(HWND window) noexcept {
  HWND list = ListBox(window);
  ListChange change;
  change.kind = ListChange::Kind::Remove;
  // Without a selection nothing goes, and the file is still written.
  if (std::optional<std::wstring> text = ReadListBoxEntry(list, ::SendMessageW(list, LB_GETCURSEL, 0, 0))) {
    change.entry = std::move(*text);
  }
  SaveAndAnnounce(window, change);
}

void OnClearAll(HWND window) noexcept {
  ListChange change;
  change.kind = ListChange::Kind::Clear;
  SaveAndAnnounce(window, change);
}

// A refused file found by a save: told, never written, and the worker
// restarts with what it yields (nothing), as the message says; a file that
// only cannot be read now leaves the worker with the list it has.
void TakeRefusedFileFoundBySave(HWND window, const ListFileUpdate& update) noexcept {
  TakeListFile(window, update.status, update.reading, update.entries);
  ShowListFileRefused(window);
  if (update.status != ListFileStatus::Unreadable) {
    ::SendMessageW(Links(window).trayWindow.load(), WMU_LIST_CHANGED, 0, 0);
  }
}

// Applies the change to what the file holds now, saves that and shows it.
// The result (DWLP_MSGRESULT) is 1 when the list was saved, 0 when nothing was
// to be saved or the user was told why not; the list box then shows what the
// file holds.
INT_PTR OnSaveList(HWND window, const ListChange* requested) noexcept {
  MainWindowState& state = State(window);
  static const ListChange kRewrite{ListChange::Kind::Remove, {}, {}, {}};
  const ListChange& change = requested != nullptr ? *requested : kRewrite;
  HWND list = ListBox(window);
  AppliedChange applied;
  std::vector<std::wstring> attempted;
  bool zeroCharacter = false;
  bool unchangedSinceShown = false;
  const ListFileUpdate update =
      UpdateProcessListFile(Links(window).listFilePath,
                            [&](const std::vector<std::wstring>& entries) -> std::optional<std::vector<std::wstring>> {
                              applied = {};
                              zeroCharacter = !ListBoxCanHoldEntries(entries);
                              if (zeroCharacter) return std::nullopt;
                              unchangedSinceShown = !ListFileRefused(window) && entries == state.savedEntries;
                              applied = ApplyListChange(entries, change);
                              if (!applied.save) return std::nullopt;
                              attempted = EntriesToSave(applied.entries);
                              SortLikeListBox(list, attempted);
                              return attempted;
                            });
  if (update.reading.restored) ShowListFileRestored(window, Links(window).listFilePath);
  bool saved = false;
  if (IsRefusedStatus(update.status) || zeroCharacter) {
    Links(window).knownListFileStamp = update.reading.stamp;
    TakeRefusedFileFoundBySave(window, update);
  } else if (update.saved) {
    saved = true;
    Links(window).knownListFileStamp = update.save.written;
    // Only what another program changed, or what the save left out, needs
    // the list box built anew.
    const bool boxFollows =
        unchangedSinceShown && change.kind != ListChange::Kind::Edit && applied.entries.size() == update.entries.size();
    if (!boxFollows) {
      ShowEntries(window, update.entries);
    } else if (change.kind == ListChange::Kind::Clear) {
      ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
    } else if (change.kind == ListChange::Kind::Remove) {
      const LRESULT selected = ::SendMessageW(list, LB_GETCURSEL, 0, 0);
      if (selected >= 0) ::SendMessageW(list, LB_DELETESTRING, static_cast<WPARAM>(selected), 0);
    } else {
      for (const std::wstring& entry : applied.added) AddToListBox(window, entry);
    }
    state.savedEntries = update.entries;
  } else if (update.save.error != ERROR_SUCCESS) {
    // The file keeps what it held, or (the old list gone) the new content
    // waits beside it to be put in place.
    Links(window).knownListFileStamp = update.reading.stamp;
    state.savedEntries = update.save.keptCopy.empty() ? update.entries : attempted;
    ShowEntries(window, state.savedEntries);
    ShowSaveFailed(window, update.save);
  } else if (!unchangedSinceShown) {
    // Nothing to save (an added text already listed): the box shows what the file holds.
    Links(window).knownListFileStamp = update.reading.stamp;
    TakeListFile(window, update.status, update.reading, update.entries);
  }
  if (applied.duplicate) ShowAlreadyListed(window);
  ::SetWindowLongPtrW(window, DWLP_MSGRESULT, saved ? 1 : 0);
  return TRUE;
}

// --- Menus ------------------------------------------------------------------

bool MethodIsOn(HWND window, const MethodSwitch& method) noexcept {
  bool on = method.defaultOn;
  Links(window).settings.ReadFlag(method.setting, on, method.defaultOn);
  return on;
}

// The worker reads the switches at the start of every pass: no restart is needed.
void FlipMethod(HWND window, const MethodSwitch& method) noexcept {
  Links(window).settings.WriteFlag(method.setting, !MethodIsOn(window, method));
  Links(window).settings.Invalidate(method.setting);
}

// The marks are read afresh at every menu entry, so changes made elsewhere show.
INT_PTR OnEnterMenuLoop(HWND window) noexcept {
  HMENU menu = ::GetMenu(window);
  if (menu == nullptr) return FALSE;
  auto check = [menu](int command, bool on) {
    ::CheckMenuItem(menu, static_cast<UINT>(command), MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
  };
  check(IDM_INCLUDE_BETAS, GetBetaUpdates());
  for (const MethodSwitch& method : kMethodSwitches) check(method.command, MethodIsOn(window, method));
  return FALSE;
}

// Both downloads run off this thread, under a dialog that can cancel them.
void OnCheckForUpdate(HWND window) noexcept {
  const std::wstring latest = FetchLatestVersionUnderDialog(window);
  switch (CompareWithCurrentVersion(latest)) {
    case UpdateAnswer::NoAnswer:
      return;
    case UpdateAnswer::NotNewer:
      ::MessageBoxW(window, LoadResourceText(IDS_NO_UPDATE_AVAILABLE).c_str(), kCaption, MB_ICONINFORMATION);
      return;
    case UpdateAnswer::Newer:
      if (::MessageBoxW(window, LoadResourceText(IDS_UPDATE_NOW).c_str(), kCaption, MB_ICONINFORMATION | MB_YESNO) ==
              IDYES &&
          DownloadAndLaunchUpdate(window, PackVersion(latest)) == UpdateLaunch::Failed) {
        ::MessageBoxW(window, LoadResourceText(IDS_UPDATER_LAUNCH_FAILED).c_str(), kCaption, MB_ICONERROR);
      }
      return;
  }
}

INT_PTR OnCommand(HWND window, WPARAM wParam) noexcept {
  // Notification code 2 is tested before the id: only the list box sends it here.
  if (HIWORD(wParam) == LBN_DBLCLK) {
    OnEditSelected(window);
    return TRUE;
  }
  const int id = LOWORD(wParam);
  if (id == IDC_COUNT_LABEL) {
    if (HIWORD(wParam) == STN_DBLCLK) OpenProcesses(window);
    return TRUE;
  }
  switch (id) {
    case IDOK:
      State(window).closedWithOk = true;
      ::EndDialog(window, 0);
      return TRUE;
    case IDC_ADD:
      OnAdd(window);
      return TRUE;
    case IDC_CLEAR_ALL:
      OnClearAll(window);
      return TRUE;
    case IDC_REMOVE:
      OnRemove(window);
      return TRUE;
    case IDM_RUNNING_PROCESSES:
      OpenProcesses(window);
      return TRUE;
    case IDM_MINIMIZE_TO_TRAY:
      ::PostMessageW(window, WM_CLOSE, 0, 0);
      return TRUE;
    case IDM_ABOUT:
      RunAboutDialog(window);
      return TRUE;
    case IDM_INCLUDE_BETAS:
      SetBetaUpdates(!GetBetaUpdates());
      return TRUE;
    case IDM_CHECK_FOR_UPDATE:
      OnCheckForUpdate(window);
      return TRUE;
    default:
      for (const MethodSwitch& method : kMethodSwitches) {
        if (method.command == id) {
          FlipMethod(window, method);
          return TRUE;
        }
      }
      return FALSE;
  }
}

// --- Status -----------------------------------------------------------------

// Each part is as wide as its text in the status bar's font, the last one
// reaching the right border.
void FitStatusParts(HWND statusBar, const std::array<std::wstring, kStatusPartCount>& texts) noexcept {
  const HWND window = ::GetParent(statusBar);
  window_dc dc(statusBar);
  if (!dc) return;
  // The dark painter draws in a font of its own: the parts are measured in it.
  HGDIOBJ font = StatusBarPainterFont(statusBar);
  if (font == nullptr) font = reinterpret_cast<HGDIOBJ>(::SendMessageW(statusBar, WM_GETFONT, 0, 0));
  select_object_scope selected(dc.get(), font);
  std::array<int, kStatusPartCount> widths = {};
  for (size_t part = 0; part < texts.size(); ++part) {
    SIZE extent = {};
    ::GetTextExtentPoint32W(dc.get(), texts[part].c_str(), static_cast<int>(texts[part].size()), &extent);
    widths[part] = extent.cx;
  }
  const std::vector<int> edges = StatusPartRightEdges(widths, ScaleForDpi(kStatusPartPadding, State(window).dpi));
  if (!edges.empty()) {
    ::SendMessageW(statusBar, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
  }
}

INT_PTR OnPassDone(HWND window, GraphState& graph) noexcept {
  MainWindowState& state = State(window);
  StatusReading reading;
  reading.running = Links(window).worker.running.load();
  reading.scanned = ReadStatistic(kLastScannedCount);
  reading.matched = ReadStatistic(kCurrentEnforcedCount);
  reading.eUsage = CoreClassMeanUsage(graph, true).mean;
  reading.pUsage = CoreClassMeanUsage(graph, false).mean;
  const StatusChanges changes = RefreshStatus(state.status, reading);
  for (const size_t part : changes.partsToSend) {
    ::SendMessageW(state.StatusBarHandle, SB_SETTEXTW, part,
                   reinterpret_cast<LPARAM>(state.status.ShownPartTexts[part].c_str()));
  }
  if (changes.measureParts) FitStatusParts(state.StatusBarHandle, state.status.StatusPartTexts);
  if (changes.countLabel) ::SetDlgItemTextW(window, IDC_COUNT_LABEL, changes.countLabel->c_str());
  RefreshProcessesWindow();
  return 0;
}

// A double-click on the status bar's matched-processes part opens the Running processes window.
INT_PTR OnNotify(HWND window, const NMHDR& header, LPARAM lParam) noexcept {
  if (header.idFrom != IDC_STATUS_BAR || header.code != NM_DBLCLK) return FALSE;
  const auto* mouse = reinterpret_cast<const NMMOUSE*>(lParam);
  if (mouse->dwItemSpec == kMatchedStatusPart) OpenProcesses(window);
  return TRUE;
}

// --- Theme ------------------------------------------------------------------

// The dark status bar gets a painter with brushes of the new palette; the
// light one is drawn by the system again.
void ThemeStatusBar(MainWindowState& state) noexcept {
  if (DarkModeActive() && !DarkModeDisabledSetting()) {
    auto data = std::make_unique<StatusBarPaintData>();
    data->background.reset(::CreateSolidBrush(ThemePalette[kDialogBackgroundSlot]));
    data->separator.reset(::CreateSolidBrush(ThemePalette[kSeparatorSlot]));
    data->font = state.CaptionFont.get();
    data->text = ThemePalette[kDialogTextSlot];
    InstallStatusBarPainter(state.StatusBarHandle, std::move(data));
  } else {
    RemoveStatusBarPainter(state.StatusBarHandle);
  }
  // The texts stay; the font that paints them may have changed.
  FitStatusParts(state.StatusBarHandle, state.status.StatusPartTexts);
  ::InvalidateRect(state.StatusBarHandle, nullptr, TRUE);
}

INT_PTR OnThemeChanged(HWND window, GraphState& graph) noexcept {
  MainWindowState& state = State(window);
  const bool themed = BeginThemeChange(window, {&state.DialogBrush, &state.ListBrush});
  ColourGraph(graph);
  if (themed) ThemeGraphWindows(window, graph);
  ShowGraph(graph);
  if (!themed) return 0;
  for (const int box : {IDC_ABOUT_GROUP, IDC_LIST_GROUP}) {
    // Without visual styles the captions take the colours of WM_CTLCOLORSTATIC.
    SetWindowVisualStyle(::GetDlgItem(window, box), L"", L"");
  }
  for (HWND child : state.ThemedChildList) {
    SetWindowVisualStyle(child, L"", L"");
    AllowWindowDark(child, DarkModeActive());
    ::SendMessageW(child, WM_THEMECHANGED, 0, 0);
  }
  ThemeButtons(window, {IDC_CLEAR_ALL, IDC_REMOVE, IDC_ADD, IDOK});
  ThemeStatusBar(state);
  RedrawFrame(window);
  ::UpdateWindow(window);
  return 0;
}

// --- DPI ------------------------------------------------------------------

// After the template's controls were placed for the new DPI (ui/dialog_dpi.h):
// the fonts, the status bar, the graph and the icon follow.
INT_PTR OnDpiChanged(HWND window, GraphState& graph, int dpi) noexcept {
  MainWindowState& state = State(window);
  if (dpi <= 0) return 0;
  state.dpi = dpi;
  const MainWindowFonts former = ReplaceFonts(window, state);
  // The status bar docks itself to the client area in its new font.
  ::SendMessageW(state.StatusBarHandle, WM_SIZE, 0, 0);
  FitClientToTemplate(window, /*keepCentre=*/false);
  ThemeStatusBar(state);
  const RECT placeholder = PlaceholderRect(window);
  LayoutGraphAtDpi(graph, dpi, placeholder.left, placeholder.top, placeholder.right - placeholder.left,
                   placeholder.bottom - placeholder.top);
  ColourGraph(graph);
  SetBigIcon(window, state);
  ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
  return 0;
}

// Asked before a move to a monitor of `dpi`: the template's size there
// (filled in by ui/dialog_dpi.h) grows by the menu bar and the status bar.
INT_PTR OnGetDpiScaledSize(HWND window, int dpi, SIZE* size) noexcept {
  MainWindowState& state = State(window);
  if (size == nullptr || dpi <= 0) return FALSE;
  RECT statusBar = {};
  ::GetWindowRect(state.StatusBarHandle, &statusBar);
  size->cy += SystemMetricForDpi(SM_CYMENU, dpi) + ::MulDiv(statusBar.bottom - statusBar.top, dpi, state.dpi);
  return TRUE;
}

// --- Teardown ---------------------------------------------------------------

INT_PTR OnDestroy(HWND window, GraphState& graph) noexcept {
  MainWindowState& state = State(window);
  // The status bar's painter draws in CaptionFont: the bar goes first.
  if (state.StatusBarHandle != nullptr) ::DestroyWindow(state.StatusBarHandle);
  state.StatusBarHandle = nullptr;
  state.CaptionFont.reset();
  state.CountFont.reset();
  state.statusFont.reset();
  state.DialogBrush.Reset();
  state.ListBrush.Reset();
  Links(window).mainWindow = nullptr;
  StopGraph(graph);
  state.ThemedChildList.clear();
  return 0;
}

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  // Built on the first message of the process's first opening and kept for the next ones.
  static GraphState& graph = SharedGraphState();
  if (message == WM_INITDIALOG) ::SetWindowLongPtrW(window, kDialogStateSlot, lParam);
  if (WindowStateOf<MainWindowState>(window, kDialogStateSlot) == nullptr) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(window, graph);
    case WM_COMMAND:
      return OnCommand(window, wParam);
    case WM_CLOSE:
      ::EndDialog(window, 1);
      return TRUE;
    case WM_DESTROY:
      return OnDestroy(window, graph);
    case WM_SIZE:
      // The status bar docks itself to the new client area.
      ::SendMessageW(State(window).StatusBarHandle, WM_SIZE, 0, 0);
      return 0;
    case WM_SETTINGCHANGE:
      return HandleSettingChange(window, lParam);
    case WM_THEMECHANGED:
      return OnThemeChanged(window, graph);
    case WM_CTLCOLORLISTBOX:
      return ColorListBox(reinterpret_cast<HDC>(wParam), State(window).ListBrush);
    case WM_ENTERMENULOOP:
      return OnEnterMenuLoop(window);
    case WM_DPICHANGED:
      return OnDpiChanged(window, graph, LOWORD(wParam));
    case WM_GETDPISCALEDSIZE:
      return OnGetDpiScaledSize(window, LOWORD(wParam), reinterpret_cast<SIZE*>(lParam));
    case WMU_PASS_DONE:
      return OnPassDone(window, graph);
    case WM_NOTIFY:
      return OnNotify(window, *reinterpret_cast<const NMHDR*>(lParam), lParam);
    case WMU_SAVE_LIST:
      return OnSaveList(window, reinterpret_cast<const ListChange*>(lParam));
    case WMU_LIST_FILE_CHANGED:
      return OnListFileChanged(window);
    case WMU_SHOW_LIST_FILE_REFUSED:
      // Posted at the opening: the box goes over the window, which shows first.
      ::ShowWindow(window, SW_SHOW);
      ShowListFileRefused(window);
      return TRUE;
    case WMU_SHOW_LIST_FILE_RESTORED:
      ::ShowWindow(window, SW_SHOW);
      ShowListFileRestored(window, Links(window).listFilePath);
      return TRUE;
    default:
      if (IsDialogColorMessage(message)) {
        return ColorDialogControl(reinterpret_cast<HDC>(wParam), State(window).DialogBrush);
      }
      return FALSE;
  }
}

}  // namespace

void ShowListFileRefusedMessage(HWND owner, const std::wstring& listFilePath, ListFileStatus status,
                                const ListFileReading& reading) {
  const std::wstring text = ListFileRefusedText(listFilePath, status, reading.error, reading.undecodableLine, false);
  ::MessageBoxW(owner, text.c_str(), kCaption, MB_ICONERROR);
}

void ShowListFileRestored(HWND owner, const std::wstring& listFilePath) {
  const std::wstring text = FillTextFields(LoadResourceText(IDS_LIST_FILE_RESTORED), {listFilePath});
  ::MessageBoxW(owner, text.c_str(), kCaption, MB_ICONINFORMATION);
}

bool AddEntriesToList(HWND window, const std::vector<std::wstring>& entries) noexcept {
  if (window == nullptr || ListFileRefused(window)) return false;
  ListChange change;
  change.added = entries;
  return SaveAndAnnounce(window, change);
}

void OpenMainWindow(const MainWindowLinks& links) {
  // The tray window calls this only while no main window is open.
  MainWindowState state;
  state.links.emplace(links);
  const INT_PTR result = ::DialogBoxParamW(ProgramInstance(), MAKEINTRESOURCEW(IDD_MAIN_WINDOW), nullptr,
                                           MainWindowProc, reinterpret_cast<LPARAM>(&state));
  // Only a real "OK" restarts the worker; a dialog ended by the quit message does not.
  if (result == 0 && state.closedWithOk) ::SendMessageW(links.trayWindow.load(), WMU_START_WORKER, 0, 0);
}

}  // namespace tarnwick
