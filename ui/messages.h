// The program's private window messages and timers. Senders and receivers on
// every thread use these names; never the bare numbers.
#pragma once

#include <windows.h>

namespace tarnwick {

inline constexpr UINT WMU_TRAY_CALLBACK = WM_USER + 1;        // the shell's icon callback; lParam = mouse message
inline constexpr UINT WMU_ADD_TRAY_ICON = WM_USER + 2;        // (re)add the tray icon
inline constexpr UINT WMU_START_WORKER = WM_USER + 3;         // stop the worker, reload the list, start a new one
inline constexpr UINT WMU_SHOW_UPDATE_BALLOON = WM_USER + 5;  // a newer version was found; wParam = its packed version
inline constexpr UINT WMU_START_UPDATE_CHECK = WM_USER + 6;   // start the update checker thread
inline constexpr UINT WMU_EXIT_APP = WM_USER + 7;             // a close request: destroy the tray window
inline constexpr UINT WMU_OPEN_MAIN_WINDOW = WM_USER + 8;     // open the main window or bring it forward
inline constexpr UINT WMU_PASS_DONE = WM_USER + 9;            // to the main window: a pass ended, refresh the status
inline constexpr UINT WMU_LIST_CHANGED = WM_USER + 10;        // the list file changed: restart a running worker
inline constexpr UINT WMU_SAVE_LIST = WM_USER + 11;           // the main window saves its list box; 1 when saved
// Private to the main window, after the shared range: it tells, once shown,
// that the list file is too large to open or cannot be read.
inline constexpr UINT WMU_SHOW_LIST_FILE_REFUSED = WM_APP + 1;
// To the main window or the tray window: reading the list put back a copy
// that an interrupted save left; the user is told once.
inline constexpr UINT WMU_SHOW_LIST_FILE_RESTORED = WM_APP + 2;
// To the tray window, posted by the list file's watcher: the list's folder
// changed. The tray window sends it on to the main window when the file's
// content did: the main window shows what the file holds now.
inline constexpr UINT WMU_LIST_FILE_CHANGED = WM_APP + 3;

inline constexpr UINT_PTR IDT_SAMPLE = 1;         // main window: one-second sampling tick
inline constexpr UINT_PTR IDT_DOWNLOAD_POLL = 2;  // download dialog: look at the download's progress
inline constexpr UINT_PTR IDT_TRAY_ICON = 1010;   // tray window: retry adding the icon every second

}  // namespace tarnwick
