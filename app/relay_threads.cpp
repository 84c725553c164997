#include "app/relay_threads.h"

#include "platform/detached_thread.h"
#include "ui/messages.h"

#include <utility>

namespace tarnwick {

void CloseWatcherThread(unique_handle quitEvent, unique_handle closeRequestEvent,
                        const std::atomic<HWND>& trayWindow) noexcept {
  const HANDLE events[] = {quitEvent.get(), closeRequestEvent.get()};
  ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
  // A failed wait (an event that was never created) ends the program too:
  // an instance that cannot be closed must not keep running.
  ::SetEvent(quitEvent.get());
  if (const HWND window = trayWindow.load()) ::PostMessageW(window, WMU_EXIT_APP, 0, 0);
}

void PassRelayThread(unique_handle quitEvent, unique_handle passDoneEvent,
                     const std::atomic<HWND>& mainWindow) noexcept {
  const HANDLE events[] = {quitEvent.get(), passDoneEvent.get()};
  while (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
    if (const HWND window = mainWindow.load()) ::PostMessageW(window, WMU_PASS_DONE, 0, 0);
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

// Starts `threadFunction` detached, with duplicates of the two events that
// it owns; a thread without both would end (or end the instance) at once.
bool StartWithOwnEvents(RelayThreadFunction threadFunction, HANDLE first, HANDLE second,
                        const std::atomic<HWND>& window) {
  unique_handle ownFirst = DuplicateForThread(first);
  unique_handle ownSecond = DuplicateForThread(second);
  if (!ownFirst || !ownSecond) return false;
  return StartDetachedThread(
      [threadFunction, first = std::move(ownFirst), second = std::move(ownSecond), &window]() mutable noexcept {
        threadFunction(std::move(first), std::move(second), window);
      });
}

}  // namespace

bool StartCloseWatcher(HANDLE quitEvent, HANDLE closeRequestEvent, const std::atomic<HWND>& trayWindow) {
  return StartWithOwnEvents(CloseWatcherThread, quitEvent, closeRequestEvent, trayWindow);
}

bool StartPassRelay(HANDLE quitEvent, HANDLE passDoneEvent, const std::atomic<HWND>& mainWindow) {
  return StartWithOwnEvents(PassRelayThread, quitEvent, passDoneEvent, mainWindow);
}

}  // namespace tarnwick
