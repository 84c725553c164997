// The windows under a window, for tests that compare layouts.
#pragma once

#include <windows.h>

#include <vector>

namespace tarnwick::testing_support {

// Every window under `top` (children, theirs and so on), in the order
// EnumChildWindows gives them: the same for the same creation order.
inline std::vector<HWND> DescendantsOf(HWND top) {
  std::vector<HWND> windows;
  ::EnumChildWindows(
      top,
      [](HWND child, LPARAM parameter) noexcept -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

}  // namespace tarnwick::testing_support
