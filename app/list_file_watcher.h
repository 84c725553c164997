// Notices changes that other programs make to the list file while the
// program runs, through the system's change notifications on its folder (and
// on the folder of the file it leads to, when it is a link): no polling.
#pragma once

#include "platform/unique_handle.h"

#include <windows.h>

#include <atomic>
#include <string>

namespace tarnwick {

// Posts WMU_LIST_FILE_CHANGED to the tray window once the list's folders
// have been quiet for a moment after a change (an editor saves in several
// steps), at the latest about half a second after the first change. Ends
// with `quitEvent` or a failed wait. Whether the file's content changed is
// the tray window's to tell: every change in the folders is reported.
void ListFileWatcherThread(unique_handle quitEvent, const std::wstring& listPath,
                           const std::atomic<HWND>& trayWindow) noexcept;

// Starts ListFileWatcherThread detached with its own duplicate of
// `quitEvent`; false when it could not be started.
bool StartListFileWatcher(HANDLE quitEvent, const std::wstring& listPath, const std::atomic<HWND>& trayWindow);

}  // namespace tarnwick
