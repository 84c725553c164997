// The two background threads of a running instance. Both only wait on events
// and post messages. Each owns duplicates of the events it waits on: the
// process-wide handles are closed by static destruction while these detached
// threads may still wait.
#pragma once

#include "platform/unique_handle.h"

#include <windows.h>

#include <atomic>

namespace tarnwick {

// Waits for the end (`quitEvent`) or a close request from another process
// (`closeRequestEvent`). Either way, and also when the wait fails, sets
// `quitEvent` and posts WMU_EXIT_APP to the tray window if there is one.
void CloseWatcherThread(unique_handle quitEvent, unique_handle closeRequestEvent,
                        const std::atomic<HWND>& trayWindow) noexcept;

// Posts WMU_PASS_DONE to the main window, while it is open, after every
// signal of `passDoneEvent`; ends with `quitEvent` or a failed wait.
void PassRelayThread(unique_handle quitEvent, unique_handle passDoneEvent,
                     const std::atomic<HWND>& mainWindow) noexcept;

// A handle of this process's own to the same object; null when `handle` is
// null or cannot be duplicated.
[[nodiscard]] unique_handle DuplicateForThread(HANDLE handle);

// Starts CloseWatcherThread with its own duplicates of the two events, as a
// detached thread; false when it could not be started.
bool StartCloseWatcher(HANDLE quitEvent, HANDLE closeRequestEvent, const std::atomic<HWND>& trayWindow);
// Starts PassRelayThread with its own duplicates of the two events, as a
// detached thread; false when it could not be started.
bool StartPassRelay(HANDLE quitEvent, HANDLE passDoneEvent, const std::atomic<HWND>& mainWindow);

}  // namespace tarnwick
