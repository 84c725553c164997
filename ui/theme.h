// Dark mode: whether the system's dark rendering can be used (decided once at
// start-up by InitDarkMode), whether the windows are dark now, the palette
// switch, dark title bars, the scroll-bar theme hook, and the theme and colour
// messages the main window and its two dialogs share. Everything the system
// offers for it is reached through the DarkModeApi seam; where dark mode is
// not supported (older Windows, a missing entry point, Wine, the user's
// "darkmode_disabled") the windows keep the system's light colours untouched.
#pragma once

#include <windows.h>
#include <uxtheme.h>

#include <cstddef>
#include <initializer_list>
#include <optional>

#include "platform/dark_mode_api.h"
#include "platform/unique_handle.h"
#include "ui/palette.h"

namespace tarnwick {

class SettingsStore;

// The first Windows 10 build with the dark entry points, and the one from
// which #135 sets a preference and title bars take the composition attribute.
inline constexpr DWORD kFirstDarkModeBuild = 17763;
inline constexpr DWORD kPreferredAppModeBuild = 18362;

// Replaces the seam the process's dark mode uses (the Win32 one, reading the
// user's setting, by default). Called before InitDarkMode and before any
// window exists, by a test or a test build of the program.
void UseDarkModeApi(DarkModeApi& api) noexcept;
[[nodiscard]] DarkModeApi& CurrentDarkModeApi() noexcept;

// What start-up learns over `api`: the support decision, then the process's
// dark allowance and the first ComputeDarkMode, then the scroll-bar hook in
// comctl32. Runs again from scratch when called again.
void InitDarkMode(DarkModeApi& api) noexcept;
// Dark mode support at start-up over the current seam; the system's seam
// reads the user's "darkmode_disabled" from `settings`, which outlives it.
void InitDarkMode(SettingsStore& settings) noexcept;

[[nodiscard]] bool DarkModeSupported() noexcept;
[[nodiscard]] bool DarkModeActive() noexcept;
// OsBuildNumber: RtlGetNtVersionNumbers' build without its flag bits.
[[nodiscard]] DWORD OsBuildNumber() noexcept;
[[nodiscard]] bool IsHighContrastOn() noexcept;
// Whether the windows should be dark now: never while dark mode is
// unsupported, never in high contrast, else the user's choice.
[[nodiscard]] bool ComputeDarkMode() noexcept;
// The user's "darkmode_disabled", read through the seam.
[[nodiscard]] bool DarkModeDisabledSetting() noexcept;
// The user's choice of dark for applications (false while unsupported).
[[nodiscard]] bool QueryAppsDark() noexcept;

// Fills ThemePalette with the dark or the light values.
void ApplyPalette(bool dark) noexcept;
// Dark or light title bar for `window`, as the user chose.
void ApplyTitleBarTheme(HWND window) noexcept;
// Stands in for uxtheme's #49 in comctl32's delay imports: scroll bars get
// the dark "Explorer::ScrollBar" theme while dark; everything else, and every
// class list other than exactly "ScrollBar", passes through.
HTHEME WINAPI ScrollBarThemeHook(HWND window, LPCWSTR classList) noexcept;

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

// The last step of a theme change: the title bar and the menu bar take the
// new look now, not at the window's next activation.
void RedrawFrame(HWND window) noexcept;

// Gives the listed buttons of `window` the current light or dark look.
void ThemeButtons(HWND window, std::initializer_list<int> buttonIds) noexcept;
// Lets the system draw `window` dark or light, where it can.
void AllowWindowDark(HWND window, bool dark) noexcept;
// SetWindowTheme through the seam.
void SetWindowVisualStyle(HWND window, const wchar_t* subAppName, const wchar_t* subIdList) noexcept;

// The colour messages: WM_CTLCOLORMSGBOX to WM_CTLCOLORSTATIC but the list
// box's, and WM_CTLCOLORLISTBOX of the main window. The brush to return, or
// FALSE for the system's colours.
[[nodiscard]] INT_PTR ColorDialogControl(HDC dc, PaletteBrush& dialogBrush) noexcept;
[[nodiscard]] INT_PTR ColorListBox(HDC dc, PaletteBrush& listBrush) noexcept;

// The theme and colour messages of a small dialog (Add New Entry, About):
// WM_SETTINGCHANGE, WM_THEMECHANGED, which also themes `buttons`, and the six
// colour messages, coloured with `brush`. Empty for every other message.
[[nodiscard]] std::optional<INT_PTR> HandleDialogThemeMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam,
                                                              PaletteBrush& brush,
                                                              std::initializer_list<int> buttons) noexcept;

// True for the six colour messages the dialogs handle (not the list box's).
[[nodiscard]] constexpr bool IsDialogColorMessage(UINT message) noexcept {
  return message == WM_CTLCOLORMSGBOX || message == WM_CTLCOLOREDIT || message == WM_CTLCOLORBTN ||
         message == WM_CTLCOLORDLG || message == WM_CTLCOLORSCROLLBAR || message == WM_CTLCOLORSTATIC;
}

}  // namespace tarnwick
