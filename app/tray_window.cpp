#include "app/tray_window.h"

#include "app/globals.h"
#include "app/worker_hooks.h"
#include "config/process_list.h"
#include "platform/diagnostics.h"
#include "platform/resource_text.h"
#include "platform/unique_handle.h"
#include "platform/window_dpi.h"
#include "platform/window_state.h"
#include "res/resource.h"
#include "ui/download_dialog.h"
#include "ui/main_window.h"
#include "ui/messages.h"
#include "ui/program_instance.h"
#include "update/update_check.h"

#include <shellapi.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick {
namespace {

// Tries to add the icon before falling back to the one-second timer: the
// notification area may not be ready yet at logon.
constexpr int kIconAddTries = 31;
constexpr DWORD kIconAddRetryDelayMs = 100;
constexpr UINT kIconRetryPeriodMs = 1000;
constexpr UINT kUpdateBalloonTimeoutMs = 10000;

// The tray window's own state, made with the window and freed with it.
struct TrayState : WindowStateLifetime {
  unique_hicon icon;  // the small icon at the tray window's DPI
  unique_hmenu menu;  // loaded on first use, kept for the window's life
  UINT taskbarCreatedMessage = 0;
  bool iconAdded = false;
  // The icon's last round of tries failed and diagnostics were told: the
  // timer's further rounds are not told again until one succeeds.
  bool iconFailureReported = false;
  // With callback version 3 a right click brings WM_RBUTTONUP and then
  // WM_CONTEXTMENU; the second arrives while the menu of the first is open.
  bool menuOpen = false;
  bool updateBalloonPending = false;
  uint32_t announcedVersion = 0;  // packed; the version the balloon offers
  // A box that tells of a refused list file shows: one at a time.
  bool refusedBoxShowing = false;
};

template <size_t N>
void CopyTruncated(wchar_t (&field)[N], std::wstring_view text) {
  const size_t length = std::min(text.size(), N - 1);
  std::copy_n(text.data(), length, field);
  field[length] = L'\0';
}

// The full structure of Vista and later (976 bytes), whose version 3 callback
// the tray callback below relies on.
static_assert(sizeof(NOTIFYICONDATAW) == 976);

// Every call names the icon by the tray window and this process's id.
NOTIFYICONDATAW IconIdentity(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = window;
  data.uID = ::GetCurrentProcessId();
  return data;
}

void ReAddTrayIcon(HWND window) {
  NOTIFYICONDATAW data = IconIdentity(window);
  ::Shell_NotifyIconW(NIM_DELETE, &data);
  ::SendMessageW(window, WMU_ADD_TRAY_ICON, 0, 0);
}

// The program runs elevated, and the system drops messages from Explorer's
// lower integrity level unless the window lets them through: without
// "TaskbarCreated" the icon would never come back after Explorer restarts.
UINT RegisterTaskbarCreatedMessage(HWND window) {
  const UINT message = ::RegisterWindowMessageW(L"TaskbarCreated");
  if (message != 0) ::ChangeWindowMessageFilterEx(window, message, MSGFLT_ALLOW, nullptr);
  return message;
}

// The notification area shows a small icon: the icon's image of the small-icon
// size at `dpi` (20 pixels at 125 %, 32 at 200 %).
unique_hicon LoadTrayIcon(int dpi) { return LoadIconForDpi(AppInstance, IDI_TARNWICK, SM_CXSMICON, dpi); }

LRESULT OnCreate(TrayState& tray, HWND window) {
  TrayWindowHandle = window;
  tray.icon = LoadTrayIcon(WindowDpi(window));
  tray.taskbarCreatedMessage = RegisterTaskbarCreatedMessage(window);
  ::PostMessageW(window, WMU_START_UPDATE_CHECK, 0, 0);
  ::PostMessageW(window, WMU_START_WORKER, 0, 0);
  if (ShowAtStartup) ::PostMessageW(window, WMU_OPEN_MAIN_WINDOW, 0, 0);
  ::SetTimer(window, IDT_TRAY_ICON, kIconRetryPeriodMs, nullptr);
  return 0;
}

LRESULT OnAddTrayIcon(TrayState& tray, HWND window) {
  NOTIFYICONDATAW data = IconIdentity(window);
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = WMU_TRAY_CALLBACK;
  data.hIcon = tray.icon.get();
  CopyTruncated(data.szTip, kProductName);
  bool added = false;
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < kIconAddTries && !added; ++attempt) {
    if (attempt > 0) ::Sleep(kIconAddRetryDelayMs);
    added = ::Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    if (!added) error = ::GetLastError();
  }
  if (added) {
    tray.iconAdded = true;
    tray.iconFailureReported = false;
  } else if (!tray.iconFailureReported && DiagnosticsListening(DiagnosticLevel::Error)) {
    tray.iconFailureReported = true;
    ReportDiagnostic(DiagnosticLevel::Error, L"tray icon given up after ", kIconAddTries, L" tries: ",
                     Win32Error{error});
  }
  // Version 3 puts the mouse message itself in the callback's lParam.
  data.uVersion = NOTIFYICON_VERSION;
  ::Shell_NotifyIconW(NIM_SETVERSION, &data);
  if (tray.taskbarCreatedMessage == 0) tray.taskbarCreatedMessage = RegisterTaskbarCreatedMessage(window);
  return 0;
}

LRESULT OnTimer(const TrayState& tray, HWND window, WPARAM timerId) {
  if (timerId != IDT_TRAY_ICON) return 0;
  if (!tray.iconAdded) ReAddTrayIcon(window);
  if (tray.iconAdded) ::KillTimer(window, IDT_TRAY_ICON);
  return 0;
}

void ShowTrayMenu(TrayState& tray, HWND window) {
  // The shell's next notification can arrive while the menu's own loop runs.
  if (tray.menuOpen) return;
  if (!tray.menu) tray.menu.reset(::LoadMenuW(AppInstance, MAKEINTRESOURCEW(IDR_TRAY_MENU)));
  const HMENU popup = ::GetSubMenu(tray.menu.get(), 0);
  if (popup == nullptr) return;
  POINT cursor{};
  ::GetCursorPos(&cursor);
  // Without the foreground the menu would not close on a click elsewhere.
  ::SetForegroundWindow(window);
  tray.menuOpen = true;
  const UINT command = static_cast<UINT>(
      ::TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr));
  tray.menuOpen = false;
  ::PostMessageW(window, WM_NULL, 0, 0);
  if (command == IDM_EXIT) {
    // The window goes first, as after a close request: a start that comes
    // now finds no window to hand over to and waits to become the instance.
    ::DestroyWindow(window);
  } else if (command == IDM_OPEN) {
    ::SendMessageW(window, WMU_TRAY_CALLBACK, 0, WM_LBUTTONUP);
  }
}

void OnUpdateBalloonClicked(TrayState& tray, HWND window) {
  if (!tray.updateBalloonPending) return;
  // Cleared first: the flow's own message loops deliver the shell's next
  // clicks to this window, and each would start another download.
  tray.updateBalloonPending = false;
  // The tray window is never shown: the download's dialog stands alone, and
  // the boxes of the flow belong to this window, which caused them.
  if (DownloadAndLaunchUpdate(window, tray.announcedVersion) == UpdateLaunch::Failed) {
    ::MessageBoxW(window, LoadResourceText(IDS_UPDATER_LAUNCH_FAILED, AppInstance).c_str(), kProductName, MB_ICONERROR);
  }
}

LRESULT OnTrayCallback(TrayState& tray, HWND window, WPARAM wParam, LPARAM lParam) {
  switch (static_cast<UINT>(lParam)) {
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    // The keyboard: Enter or Space on the icon, or a selection with the mouse and Enter.
    case NIN_SELECT:
    case NIN_KEYSELECT:
      ::SendMessageW(window, WMU_OPEN_MAIN_WINDOW, 0, 0);
      break;
    // WM_CONTEXTMENU alone comes from the keyboard (Shift+F10, the menu key);
    // after a right click it finds the menu already open.
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU:
      ShowTrayMenu(tray, window);
      break;
    case NIN_BALLOONUSERCLICK:
      OnUpdateBalloonClicked(tray, window);
      break;
    case NIN_BALLOONHIDE:
    case NIN_BALLOONTIMEOUT:
      tray.updateBalloonPending = false;
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window, WMU_TRAY_CALLBACK, wParam, lParam);
}

LRESULT OnShowUpdateBalloon(TrayState& tray, HWND window, WPARAM version) {
  NOTIFYICONDATAW data = IconIdentity(window);
  data.uFlags = NIF_INFO;
  data.uTimeout = kUpdateBalloonTimeoutMs;
  CopyTruncated(data.szInfoTitle, LoadResourceText(IDS_UPDATE_BALLOON_TITLE, AppInstance));
  CopyTruncated(data.szInfo, LoadResourceText(IDS_UPDATE_BALLOON_TEXT, AppInstance));
  data.dwInfoFlags = NIIF_NONE;
  ::Shell_NotifyIconW(NIM_MODIFY, &data);
  tray.updateBalloonPending = true;
  tray.announcedVersion = static_cast<uint32_t>(version);
  return 0;
}

// The taskbar's monitor took another scaling: the icon of its size, once the
// shell shows the new one (it keeps its own copy).
LRESULT OnDpiChanged(TrayState& tray, HWND window, WPARAM wParam, LPARAM lParam) {
  if (const auto* suggested = reinterpret_cast<const RECT*>(lParam)) {
    ::SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  unique_hicon icon = LoadTrayIcon(LOWORD(wParam));
  if (!icon) return 0;
  std::swap(tray.icon, icon);
  if (tray.iconAdded) {
    NOTIFYICONDATAW data = IconIdentity(window);
    data.uFlags = NIF_ICON;
    data.hIcon = tray.icon.get();
    ::Shell_NotifyIconW(NIM_MODIFY, &data);
  }
  return 0;
}

// 1 when the main window was opened (and has closed again) or brought
// forward; 0 while the program is ending, when a start that handed over must
// wait to become the instance itself.
LRESULT OnOpenMainWindow() {
  if (IsSet(QuitEvent)) return 0;
  if (const HWND mainWindow = MainWindowHandle.load()) {
    // The Add dialog or a message box over the main window, which is disabled meanwhile.
    ::SetForegroundWindow(::GetLastActivePopup(mainWindow));
    return kMainWindowOpened;
  }
  OpenMainWindow(ProgramMainWindowLinks());
  return kMainWindowOpened;
}

// Another program changed the list's folder. When the file's content changed,
// the worker restarts with it (unless the file only cannot be read now: the
// worker keeps its list) and the main window shows it; a refused file is told
// once per change.
LRESULT OnListFileChanged(TrayState& tray) {
  std::vector<std::wstring> entries;
  ListFileReading reading;
  const ListFileStatus status = ReadProcessListFile(ListFilePath, entries, &reading);
  if (reading.stamp == KnownListFileStamp) return 0;
  KnownListFileStamp = reading.stamp;
  if (status != ListFileStatus::Unreadable) RestartWorkerIfRunning();
  if (const HWND mainWindow = MainWindowHandle.load()) {
    ::SendMessageW(mainWindow, WMU_LIST_FILE_CHANGED, 0, 0);
    return 0;
  }
  if (reading.restored) ShowListFileRestored(nullptr, ListFilePath);
  if (status == ListFileStatus::TooLarge || status == ListFileStatus::Unreadable ||
      status == ListFileStatus::Undecodable) {
    // One box at a time: a change while it shows is told by the main window's next opening.
    if (tray.refusedBoxShowing) return 0;
    tray.refusedBoxShowing = true;
    ShowListFileRefusedMessage(nullptr, ListFilePath, status, reading);
    tray.refusedBoxShowing = false;
  }
  return 0;
}

// The checker tells this window of each newer version; it keeps its own copy
// of the handle, as it may outlive the window while the program ends.
void StartUpdateCheckerForTray(HWND window) {
  StartUpdateChecker(QuitEvent.get(), [window](uint32_t version) {
    ::PostMessageW(window, WMU_SHOW_UPDATE_BALLOON, static_cast<WPARAM>(version), 0);
  });
}

LRESULT OnDestroy() {
  RemoveTrayIcon();
  ::SetEvent(QuitEvent.get());
  ::PostQuitMessage(0);
  return 0;
}

LRESULT Dispatch(TrayState& tray, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(tray, window);
    case WM_TIMER:
      return OnTimer(tray, window, wParam);
    case WM_DESTROY:
      return OnDestroy();
    case WMU_ADD_TRAY_ICON:
      return OnAddTrayIcon(tray, window);
    case WMU_TRAY_CALLBACK:
      return OnTrayCallback(tray, window, wParam, lParam);
    case WMU_SHOW_UPDATE_BALLOON:
      return OnShowUpdateBalloon(tray, window, wParam);
    case WMU_START_UPDATE_CHECK:
      StartUpdateCheckerForTray(window);
      return 0;
    case WMU_START_WORKER:
      StartWorkerFromListFile();
      return 0;
    case WMU_LIST_CHANGED:
      RestartWorkerIfRunning();
      return 0;
    case WMU_OPEN_MAIN_WINDOW:
      return OnOpenMainWindow();
    case WM_DPICHANGED:
      return OnDpiChanged(tray, window, wParam, lParam);
    case WMU_EXIT_APP:
      ::DestroyWindow(window);
      return 0;
    // Windows ends the process after this without returning to the loop.
    case WM_ENDSESSION:
      if (wParam) StopWatchingProcessStarts();
      return 0;
    case WMU_SHOW_LIST_FILE_RESTORED:
      ShowListFileRestored(nullptr, ListFilePath);
      return 0;
    case WMU_LIST_FILE_CHANGED:
      return OnListFileChanged(tray);
    default:
      break;
  }
  // Explorer restarted: its new notification area has no icon of ours.
  if (tray.taskbarCreatedMessage != 0 && message == tray.taskbarCreatedMessage) {
    ReAddTrayIcon(window);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) AttachWindowState(window, kWindowStateSlot, std::make_unique<TrayState>());
  TrayState* tray = WindowStateOf<TrayState>(window, kWindowStateSlot);
  if (tray == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  const WindowStateUse use(window, kWindowStateSlot, *tray, message);
  return Dispatch(*tray, window, message, wParam, lParam);
}

}  // namespace

bool CreateTrayWindow() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = TrayWindowProc;
  windowClass.hInstance = AppInstance;
  windowClass.hIcon = ::LoadIconW(AppInstance, MAKEINTRESOURCEW(IDI_TARNWICK));
  windowClass.hIconSm = windowClass.hIcon;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszMenuName = MAKEINTRESOURCEW(IDR_TRAY_MENU);
  windowClass.lpszClassName = kTrayWindowClass;
  ::RegisterClassExW(&windowClass);
  ::CreateWindowExW(0, kTrayWindowClass, kTrayWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                    nullptr, nullptr, AppInstance, nullptr);
  const HWND window = TrayWindowHandle.load();
  if (window == nullptr) return false;
  ::SendMessageW(window, WMU_ADD_TRAY_ICON, 0, 0);
  return true;
}

void RemoveTrayIcon() {
  NOTIFYICONDATAW data = IconIdentity(TrayWindowHandle.load());
  ::Shell_NotifyIconW(NIM_DELETE, &data);
}

}  // namespace tarnwick
