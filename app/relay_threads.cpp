#include "app/relay_threads.h"

#include "app/messages.h"

#include <system_error>
#include <thread>
#include <utility>

namespace tarnwick {

void CloseWatcherThread(unique_handle quit_event, unique_handle close_request_event,
                        const std::atomic<HWND>& tray_window) noexcept {
  const HANDLE events[] = {quit_event.get(), close_request_event.get()};
  ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
  // A failed wait (an event that was never created) ends the program too:
  // an instance that cannot be closed must not keep running.
  ::SetEvent(quit_event.get());
  if (const HWND window = tray_window.load()) ::PostMessageW(window, WMU_EXIT_APP, 0, 0);
}

void PassRelayThread(unique_handle quit_event, unique_handle pass_done_event,
                     const std::atomic<HWND>& main_window) noexcept {
  const HANDLE events[] = {quit_event.get(), pass_done_event.get()};
  while (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
    if (const HWND window = main_window.load()) ::PostMessageW(window, WMU_PASS_DONE, 0, 0);
  }
}

unique_handle DuplicateForThread(HANDLE handle) {
  unique_handle duplicate;
  if (handle == nullptr) return duplicate;
  ::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), duplicate.put(), 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  return duplicate;
}

bool StartCloseWatcher(HANDLE quit_event, HANDLE close_request_event, const std::atomic<HWND>& tray_window) {
  unique_handle quit = DuplicateForThread(quit_event);
  unique_handle request = DuplicateForThread(close_request_event);
  // A watcher without its events would end the instance at once.
  if (!quit || !request) return false;
  try {
    std::thread(CloseWatcherThread, std::move(quit), std::move(request), std::cref(tray_window)).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool StartPassRelay(HANDLE quit_event, HANDLE pass_done_event, const std::atomic<HWND>& main_window) {
  unique_handle quit = DuplicateForThread(quit_event);
  unique_handle pass_done = DuplicateForThread(pass_done_event);
  if (!quit || !pass_done) return false;
  try {
    std::thread(PassRelayThread, std::move(quit), std::move(pass_done), std::cref(main_window)).detach();
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

}  // namespace tarnwick
