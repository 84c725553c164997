#include "app/relay_threads.h"

#include "platform/detached_thread.h"
#include "ui/messages.h"

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

namespace {

using RelayThreadFunction = void (*)(unique_handle, unique_handle, const std::atomic<HWND>&) noexcept;

// Starts `thread_function` detached, with duplicates of the two events that
// it owns; a thread without both would end (or end the instance) at once.
bool StartWithOwnEvents(RelayThreadFunction thread_function, HANDLE first, HANDLE second,
                        const std::atomic<HWND>& window) {
  unique_handle own_first = DuplicateForThread(first);
  unique_handle own_second = DuplicateForThread(second);
  if (!own_first || !own_second) return false;
  return StartDetachedThread([thread_function, first = std::move(own_first), second = std::move(own_second),
                              &window]() mutable noexcept {
    thread_function(std::move(first), std::move(second), window);
  });
}

}  // namespace

bool StartCloseWatcher(HANDLE quit_event, HANDLE close_request_event, const std::atomic<HWND>& tray_window) {
  return StartWithOwnEvents(CloseWatcherThread, quit_event, close_request_event, tray_window);
}

bool StartPassRelay(HANDLE quit_event, HANDLE pass_done_event, const std::atomic<HWND>& main_window) {
  return StartWithOwnEvents(PassRelayThread, quit_event, pass_done_event, main_window);
}

}  // namespace tarnwick
