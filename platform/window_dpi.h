// The DPI a window is laid out and painted at, and the system's metrics and
// fonts at a given DPI. The program is per-monitor DPI aware (its manifest):
// every size it draws is given at 96 DPI and scaled to the window's DPI, and
// a window moved to a monitor of another scaling is laid out again for it.
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"

namespace tarnwick {

inline constexpr int kDefaultDpi = 96;

// GetDpiForWindow (Windows 10 1607 on); on an older Windows, or for a window
// it cannot answer for, the screen's LOGPIXELSX; 96 when even that fails.
[[nodiscard]] int WindowDpi(HWND window) noexcept;

// A length given at 96 DPI, at `dpi` (rounded to the nearest pixel).
[[nodiscard]] constexpr int ScaleForDpi(int value, int dpi) noexcept {
  const long long scaled = static_cast<long long>(value) * dpi;
  const long long half = kDefaultDpi / 2;
  return static_cast<int>(scaled >= 0 ? (scaled + half) / kDefaultDpi : -((-scaled + half) / kDefaultDpi));
}

// GetSystemMetricsForDpi (Windows 10 1607 on); elsewhere GetSystemMetrics,
// which answers for the system's DPI, scaled from it to `dpi`.
[[nodiscard]] int SystemMetricForDpi(int index, int dpi) noexcept;

// The non-client metrics (caption, menu, status and message fonts) at `dpi`:
// SystemParametersInfoForDpi (Windows 10 1607 on); elsewhere the system's,
// their font heights scaled from the system's DPI to `dpi`. False when
// neither can be read.
[[nodiscard]] bool NonClientMetricsForDpi(int dpi, NONCLIENTMETRICSW& metrics) noexcept;

// Icon resource `id` of `instance` at the size system metric `metric`
// (SM_CXICON or SM_CXSMICON) has at `dpi`, taken from the icon's image of
// that size or scaled down from the next larger one (LoadIconWithScaleDown,
// which is what LoadIconMetric does at the system's DPI). Null on failure.
[[nodiscard]] unique_hicon LoadIconForDpi(HINSTANCE instance, int id, int metric, int dpi) noexcept;

// AdjustWindowRectExForDpi (Windows 10 1607 on), else AdjustWindowRectEx.
bool AdjustWindowRectForDpi(RECT& rect, DWORD style, bool menu, DWORD extendedStyle, int dpi) noexcept;

}  // namespace tarnwick
