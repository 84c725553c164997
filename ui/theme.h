// Colours of the main window and its dialogs. The windows colour themselves
// from ThemePalette, which start-up fills with the system's light colours.
// Following the system's dark mode is not built yet: dark mode is never
// supported or active, the palette keeps its start-up values and the colour
// messages leave the system's colours in place.
#pragma once

#include <windows.h>

#include <cstddef>
#include <initializer_list>
#include <optional>

#include "platform/unique_handle.h"

namespace tarnwick {

// Palette slots by use.
inline constexpr size_t kListTextSlot = 0;
inline constexpr size_t kListBackgroundSlot = 1;
inline constexpr size_t kDialogBackgroundSlot = 2;
inline constexpr size_t kDialogTextSlot = 3;

[[nodiscard]] bool DarkModeSupported() noexcept;
[[nodiscard]] bool DarkModeActive() noexcept;
// Whether the windows should be dark now: never while dark mode is unsupported.
[[nodiscard]] bool ComputeDarkMode() noexcept;

// A solid brush of one palette slot, made on first need and dropped when the
// palette switches or its window is destroyed.
class PaletteBrush {
 public:
  explicit PaletteBrush(size_t slot) noexcept : slot_(slot) {}
  [[nodiscard]] HBRUSH Get() noexcept;
  void Reset() noexcept { brush_.reset(); }

 private:
  size_t slot_;
  unique_hbrush brush_;
};

// WM_SETTINGCHANGE of the main window and its dialogs; returns 0.
LRESULT HandleSettingChange(HWND window, LPARAM lParam) noexcept;

// The part of WM_THEMECHANGED that all three windows share: decides whether
// the windows are dark and, where dark mode is supported, switches the palette,
// drops the window's cached brushes and themes its title bar. False when the
// window has nothing more to theme.
bool BeginThemeChange(HWND window, std::initializer_list<PaletteBrush*> brushes) noexcept;

// Gives the listed buttons of `window` the current light or dark look.
void ThemeButtons(HWND window, std::initializer_list<int> buttonIds) noexcept;
// Lets the system draw `window` dark or light, where it can.
void AllowWindowDark(HWND window, bool dark) noexcept;

// The colour messages: WM_CTLCOLORMSGBOX to WM_CTLCOLORSTATIC but the list
// box's, and WM_CTLCOLORLISTBOX of the main window. The brush to return, or
// FALSE for the system's colours.
[[nodiscard]] INT_PTR ColorDialogControl(HDC dc, PaletteBrush& dialogBrush) noexcept;
[[nodiscard]] INT_PTR ColorListBox(HDC dc, PaletteBrush& listBrush) noexcept;

// The theme and colour messages of a small dialog (Add New Entry, About):
// WM_SETTINGCHANGE, WM_THEMECHANGED, which also themes `buttons`, and the six
// colour messages, coloured with `brush`. Empty for every other message.
[[nodiscard]] std::optional<INT_PTR> HandleDialogThemeMessage(HWND dialog, UINT message, WPARAM wParam,
                                                              LPARAM lParam, PaletteBrush& brush,
                                                              std::initializer_list<int> buttons) noexcept;

// True for the six colour messages the dialogs handle (not the list box's).
[[nodiscard]] constexpr bool IsDialogColorMessage(UINT message) noexcept {
  return message == WM_CTLCOLORMSGBOX || message == WM_CTLCOLOREDIT || message == WM_CTLCOLORBTN ||
         message == WM_CTLCOLORDLG || message == WM_CTLCOLORSCROLLBAR || message == WM_CTLCOLORSTATIC;
}

}  // namespace tarnwick
