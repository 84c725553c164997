// Scoped GDI state: a window's device context released on exit, a painting
// begun and ended, a memory device context deleted, and an object selected
// into a device context put back on exit.
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"

namespace tarnwick {

namespace detail {
inline void DeleteDcIgnoringResult(HDC dc) noexcept { ::DeleteDC(dc); }
}  // namespace detail

// CreateCompatibleDC / DeleteDC.
using unique_hdc = unique_any<HDC, detail::DeleteDcIgnoringResult>;

// BeginPaint / EndPaint.
class paint_scope {
 public:
  explicit paint_scope(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &paint_)) {}
  ~paint_scope() { ::EndPaint(window_, &paint_); }
  paint_scope(const paint_scope&) = delete;
  paint_scope& operator=(const paint_scope&) = delete;
  [[nodiscard]] HDC get() const noexcept { return dc_; }
  // The rectangle to paint.
  [[nodiscard]] const RECT& Area() const noexcept { return paint_.rcPaint; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// GetDC / ReleaseDC, or with whole_window GetWindowDC (the frame included).
class window_dc {
 public:
  struct whole_window_t {};
  static constexpr whole_window_t whole_window{};

  explicit window_dc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  window_dc(HWND window, whole_window_t) noexcept : window_(window), dc_(::GetWindowDC(window)) {}
  ~window_dc() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  window_dc(const window_dc&) = delete;
  window_dc& operator=(const window_dc&) = delete;
  [[nodiscard]] HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// SelectObject, and the former object selected again on exit. A null object
// selects nothing.
class select_object_scope {
 public:
  select_object_scope(HDC dc, HGDIOBJ object) noexcept
      : dc_(dc), former_(object != nullptr ? ::SelectObject(dc, object) : nullptr) {}
  ~select_object_scope() {
    if (former_ != nullptr) ::SelectObject(dc_, former_);
  }
  select_object_scope(const select_object_scope&) = delete;
  select_object_scope& operator=(const select_object_scope&) = delete;

 private:
  HDC dc_;
  HGDIOBJ former_;
};

}  // namespace tarnwick
