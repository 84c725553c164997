#include "platform/window_dpi.h"

#include "platform/gdi_scope.h"

namespace tarnwick {

namespace {

// A function of user32 that older Windows lack, looked up once.
template <typename Function>
Function User32Function(const char* name) noexcept {
  const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(user32, name)));
}

int SystemDpi() noexcept {
  const window_dc screen(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSX) : kDefaultDpi;
  return dpi > 0 ? dpi : kDefaultDpi;
}

}  // namespace

int WindowDpi(HWND window) noexcept {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (getDpiForWindow != nullptr && window != nullptr) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi != 0) return static_cast<int>(dpi);
  }
  return SystemDpi();
}

int SystemMetricForDpi(int index, int dpi) noexcept {
  using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
  static const auto forDpi = User32Function<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
  if (forDpi != nullptr) return forDpi(index, static_cast<UINT>(dpi));
  return ::MulDiv(::GetSystemMetrics(index), dpi, SystemDpi());
}

bool NonClientMetricsForDpi(int dpi, NONCLIENTMETRICSW& metrics) noexcept {
  using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static const auto forDpi = User32Function<SystemParametersInfoForDpiFn>("SystemParametersInfoForDpi");
  metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (forDpi != nullptr && forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, static_cast<UINT>(dpi))) {
    return true;
  }
  metrics = {};
  metrics.cbSize = sizeof(metrics);
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return false;
  const int systemDpi = SystemDpi();
  for (LOGFONTW* font : {&metrics.lfCaptionFont, &metrics.lfSmCaptionFont, &metrics.lfMenuFont, &metrics.lfStatusFont,
                         &metrics.lfMessageFont}) {
    font->lfHeight = ::MulDiv(font->lfHeight, dpi, systemDpi);
  }
  return true;
}

unique_hicon LoadIconForDpi(HINSTANCE instance, int id, int metric, int dpi) noexcept {
  // Of the common controls the program runs with (version 6, which has it
  // from Vista on); MinGW's import library lacks it.
  using LoadIconWithScaleDownFn = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
  static const auto scaleDown = [] {
    const HMODULE comctl32 = ::GetModuleHandleW(L"comctl32.dll");
    return comctl32 == nullptr ? nullptr
                               : reinterpret_cast<LoadIconWithScaleDownFn>(
                                     reinterpret_cast<void (*)()>(::GetProcAddress(comctl32, "LoadIconWithScaleDown")));
  }();
  const int size = SystemMetricForDpi(metric, dpi);
  unique_hicon icon;
  if (scaleDown != nullptr && SUCCEEDED(scaleDown(instance, MAKEINTRESOURCEW(id), size, size, icon.put()))) {
    return icon;
  }
  // The image of the nearest size, stretched where the icon has none of this one.
  icon.reset(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0)));
  return icon;
}

bool AdjustWindowRectForDpi(RECT& rect, DWORD style, bool menu, DWORD extendedStyle, int dpi) noexcept {
  using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto forDpi = User32Function<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
  if (forDpi != nullptr) return forDpi(&rect, style, menu ? TRUE : FALSE, extendedStyle, static_cast<UINT>(dpi)) != 0;
  return ::AdjustWindowRectEx(&rect, style, menu ? TRUE : FALSE, extendedStyle) != 0;
}

}  // namespace tarnwick
