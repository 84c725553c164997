// The two background threads of a running instance. Both only wait on events
// and post messages; they take their handles when they start.
#pragma once

#include <windows.h>

#include <atomic>

namespace tarnwick {

// Waits for the end (`quit_event`) or a close request from another process
// (`close_request_event`). Either way, and also when the wait fails, sets
// `quit_event` and posts WMU_EXIT_APP to the tray window if there is one.
void CloseWatcherThread(HANDLE quit_event, HANDLE close_request_event, const std::atomic<HWND>& tray_window) noexcept;

// Posts WMU_PASS_DONE to the main window, while it is open, after every
// signal of `pass_done_event`; ends with `quit_event` or a failed wait.
void PassRelayThread(HANDLE quit_event, HANDLE pass_done_event, const std::atomic<HWND>& main_window) noexcept;

}  // namespace tarnwick
