// A picture for tests that check what a control paints.
#pragma once

#include "platform/gdi_scope.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarnwick {

// A 32-bit top-down picture a control is painted into (WM_PRINTCLIENT),
// read back pixel by pixel.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    dc_.reset(::CreateCompatibleDC(nullptr));
    bitmap_.reset(::CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    bits_ = static_cast<const uint32_t*>(bits);
    former_ = ::SelectObject(dc_.get(), bitmap_.get());
  }
  ~Canvas() { ::SelectObject(dc_.get(), former_); }
  [[nodiscard]] HDC Dc() const { return dc_.get(); }
  [[nodiscard]] COLORREF At(int x, int y) const {
    ::GdiFlush();
    const uint32_t pixel = bits_[y * width_ + x];
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
  }
  // Whether both pictures hold the same pixels (a canvas of another size never does).
  [[nodiscard]] bool SamePixels(const Canvas& other) const {
    ::GdiFlush();
    return width_ == other.width_ && height_ == other.height_ && bits_ != nullptr && other.bits_ != nullptr &&
           std::memcmp(bits_, other.bits_, sizeof(uint32_t) * static_cast<size_t>(width_) * height_) == 0;
  }

 private:
  int width_;
  int height_;
  unique_hdc dc_;
  unique_hbitmap bitmap_;
  HGDIOBJ former_ = nullptr;
  const uint32_t* bits_ = nullptr;
};

// What `window` shows at (x, y) of its whole area, frame included, read back
// from the window's device context as the screen got it.
inline COLORREF ShownAt(HWND window, int x, int y) {
  Canvas pixel(1, 1);
  window_dc shown(window, window_dc::whole_window);
  ::BitBlt(pixel.Dc(), 0, 0, 1, 1, shown.get(), x, y, SRCCOPY);
  return pixel.At(0, 0);
}

}  // namespace tarnwick
