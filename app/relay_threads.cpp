#include "app/relay_threads.h"

#include "app/messages.h"

namespace tarnwick {

void CloseWatcherThread(HANDLE quit_event, HANDLE close_request_event, const std::atomic<HWND>& tray_window) noexcept {
  const HANDLE events[] = {quit_event, close_request_event};
  ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
  // A failed wait (an event that was never created) ends the program too:
  // an instance that cannot be closed must not keep running.
  ::SetEvent(quit_event);
  if (const HWND window = tray_window.load()) ::PostMessageW(window, WMU_EXIT_APP, 0, 0);
}

void PassRelayThread(HANDLE quit_event, HANDLE pass_done_event, const std::atomic<HWND>& main_window) noexcept {
  const HANDLE events[] = {quit_event, pass_done_event};
  while (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
    if (const HWND window = main_window.load()) ::PostMessageW(window, WMU_PASS_DONE, 0, 0);
  }
}

}  // namespace tarnwick
