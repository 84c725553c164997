#include "app/list_file_watcher.h"

#include "app/relay_threads.h"
#include "config/process_list.h"
#include "platform/detached_thread.h"
#include "ui/messages.h"

#include <array>
#include <utility>
#include <vector>

namespace tarnwick {
namespace {

// A name made or removed (the save's temporary files, an editor's rename),
// a write, a new size.
constexpr DWORD kChangesWatched =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;
// Quiet time that ends a burst of changes, and the longest a burst delays the report.
constexpr DWORD kQuietMs = 100;
constexpr ULONGLONG kLongestDelayMs = 500;
// A folder that cannot be watched (not there yet) is tried again this often.
constexpr DWORD kWatchRetryMs = 2000;

struct WatchedFolder {
  std::wstring path;
  unique_change_notification change;
};

// Watches each folder of the list; keeps a watch whose folder stays.
void WatchFolders(const std::wstring& listPath, std::vector<WatchedFolder>& watched) {
  std::vector<WatchedFolder> next;
  for (std::wstring& folder : ListFileFolders(listPath)) {
    WatchedFolder entry{std::move(folder), {}};
    // A watch holds its folder open: one whose folder was removed is let go,
    // or the removed folder's name could not be used again meanwhile.
    const DWORD attributes = ::GetFileAttributesW(entry.path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      next.push_back(std::move(entry));
      continue;
    }
    for (WatchedFolder& old : watched) {
      if (old.change && old.path == entry.path) entry.change = std::move(old.change);
    }
    if (!entry.change) entry.change.reset(::FindFirstChangeNotificationW(entry.path.c_str(), FALSE, kChangesWatched));
    next.push_back(std::move(entry));
  }
  watched = std::move(next);
}

}  // namespace

void ListFileWatcherThread(unique_handle quitEvent, const std::wstring& listPath,
                           const std::atomic<HWND>& trayWindow) noexcept {
  std::vector<WatchedFolder> watched;
  while (true) {
    WatchFolders(listPath, watched);
    std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> waits{quitEvent.get()};
    DWORD count = 1;
    for (const WatchedFolder& folder : watched) {
      if (folder.change && count < waits.size()) waits[count++] = folder.change.get();
    }
    const DWORD timeout = count == 1 + watched.size() ? INFINITE : kWatchRetryMs;
    const DWORD woken = ::WaitForMultipleObjects(count, waits.data(), FALSE, timeout);
    if (woken == WAIT_TIMEOUT) continue;
    if (woken <= WAIT_OBJECT_0 || woken >= WAIT_OBJECT_0 + count) return;
    // Re-armed before the quiet time is measured: a change during it counts.
    const ULONGLONG firstChange = ::GetTickCount64();
    while (true) {
      for (DWORD index = 1; index < count; ++index) ::FindNextChangeNotification(waits[index]);
      if (::GetTickCount64() - firstChange >= kLongestDelayMs) break;
      const DWORD more = ::WaitForMultipleObjects(count, waits.data(), FALSE, kQuietMs);
      if (more == WAIT_OBJECT_0) return;
      if (more == WAIT_TIMEOUT || more == WAIT_FAILED) break;
    }
    if (const HWND window = trayWindow.load()) ::PostMessageW(window, WMU_LIST_FILE_CHANGED, 0, 0);
  }
}

bool StartListFileWatcher(HANDLE quitEvent, const std::wstring& listPath, const std::atomic<HWND>& trayWindow) {
  unique_handle ownQuit = DuplicateForThread(quitEvent);
  if (!ownQuit) return false;
  return StartDetachedThread([quit = std::move(ownQuit), listPath, &trayWindow]() mutable noexcept {
    ListFileWatcherThread(std::move(quit), listPath, trayWindow);
  });
}

}  // namespace tarnwick
