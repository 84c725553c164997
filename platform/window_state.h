// A window's state object, reached through the window itself: made when the
// window is created (WM_NCCREATE, or WM_INITDIALOG for a dialog), kept in its
// user data (GWLP_USERDATA, or DWLP_USER for a dialog) and freed with it
// (WM_NCDESTROY), once no handler of the window runs any more. A procedure
// finds its object with WindowStateOf and hands it to its handlers under a
// WindowStateUse; messages that come before the object exists (a window's
// WM_GETMINMAXINFO, a dialog's WM_SETFONT) find none.
#pragma once

#include <windows.h>

#include <memory>

namespace tarnwick {

// Where a window keeps its object: GWLP_USERDATA for a window of its own
// class, DWLP_USER for a dialog (whose GWLP_USERDATA the dialog manager
// leaves to the window's creator).
inline constexpr int kWindowStateSlot = GWLP_USERDATA;
inline constexpr int kDialogStateSlot = DWLP_USER;

// The object `window` keeps in `slot`; null before it is attached and after
// it is freed.
template <typename State>
[[nodiscard]] State* WindowStateOf(HWND window, int slot) noexcept {
  return reinterpret_cast<State*>(::GetWindowLongPtrW(window, slot));
}

// Hands `state` to `window`, which owns it from now on.
template <typename State>
State& AttachWindowState(HWND window, int slot, std::unique_ptr<State> state) noexcept {
  State& attached = *state;
  ::SetWindowLongPtrW(window, slot, reinterpret_cast<LONG_PTR>(state.release()));
  return attached;
}

// What a state object carries to outlive its window while one of the
// window's handlers still runs: a handler may run a nested message loop (a
// menu, a message box, a dialog) in which the window is destroyed.
struct WindowStateLifetime {
  int dispatching = 0;      // handlers of the window on the stack
  bool windowGone = false;  // WM_NCDESTROY has come
};

// Held by the procedure for each message it hands to its object's handlers.
// At WM_NCDESTROY the window lets go of the object, which is freed once the
// last handler of the window has returned.
template <typename State>
class WindowStateUse {
 public:
  WindowStateUse(HWND window, int slot, State& state, UINT message) noexcept : state_(state) {
    ++state_.dispatching;
    if (message == WM_NCDESTROY) {
      ::SetWindowLongPtrW(window, slot, 0);
      state_.windowGone = true;
    }
  }
  ~WindowStateUse() {
    if (--state_.dispatching == 0 && state_.windowGone) delete &state_;
  }
  WindowStateUse(const WindowStateUse&) = delete;
  WindowStateUse& operator=(const WindowStateUse&) = delete;

 private:
  State& state_;
};

}  // namespace tarnwick
