// A thread that nobody waits for: it owns everything it uses and ends by
// itself.
//
// Not std::thread(...).detach(): with MinGW's winpthreads, detaching a thread
// that has just returned from its function (and is still inside its
// thread-detach callbacks) frees the thread's bookkeeping while the ending
// thread still writes to it. The next thread started reuses that record, and
// the program later closes handles it does not own, fails a detach with
// ESRCH, or crashes. A short job (a download that fails at once) ends at
// exactly that moment often enough to matter. A plain Win32 thread, whose
// handle is closed at once, has no such state.
#pragma once

#include "platform/unique_handle.h"

#include <windows.h>

#include <memory>
#include <type_traits>
#include <utility>

namespace tarnwick {

namespace detail {
template <typename Body>
DWORD WINAPI RunDetachedBody(void* parameter) noexcept {
  const std::unique_ptr<Body> body(static_cast<Body*>(parameter));
  (*body)();
  return 0;
}
}  // namespace detail

// Runs `body` (a noexcept callable, moved onto the heap) on a new thread and
// returns at once; false when no thread could be created (the body is then
// destroyed unrun). Throws std::bad_alloc like any allocation.
template <typename Body>
[[nodiscard]] bool StartDetachedThread(Body&& body) {
  using Stored = std::decay_t<Body>;
  static_assert(std::is_nothrow_invocable_v<Stored&>, "an exception must never leave a thread");
  auto owned = std::make_unique<Stored>(std::forward<Body>(body));
  const unique_handle thread(::CreateThread(nullptr, 0, &detail::RunDetachedBody<Stored>, owned.get(), 0, nullptr));
  if (!thread) return false;
  // The thread owns the body now.
  static_cast<void>(owned.release());
  return true;
}

}  // namespace tarnwick
