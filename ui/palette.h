// The eight colour slots of the user interface (0x00BBGGRR), light and dark.
// Start-up fills ThemePalette with the light values; a theme change switches
// it between the two.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

namespace tarnwick {

using Palette = std::array<COLORREF, 8>;

// Slots by use.
inline constexpr size_t kListTextSlot = 0;          // list box text
inline constexpr size_t kListBackgroundSlot = 1;    // list box background
inline constexpr size_t kDialogBackgroundSlot = 2;  // dialogs, controls, status and menu bar; graph boxes
inline constexpr size_t kDialogTextSlot = 3;        // dialogs, controls, status and menu bar; graph titles
inline constexpr size_t kSeparatorSlot = 4;         // status separators, hot menu items; graph frames
inline constexpr size_t kBarSlot = 5;               // graph bars
inline constexpr size_t kCellBackgroundSlot = 6;    // graph cells
inline constexpr size_t kParkedSlot = 7;            // parked graph cells, disabled menu items

inline constexpr Palette kDarkPalette = {0xC8C8C8, 0x1E1E1E, 0x383838, 0xFFFFFF,
                                         0x444444, 0x30CC30, 0x303030, 0xACACAC};

// The system's colours where it has them, fixed values elsewhere.
[[nodiscard]] inline Palette LightPalette() noexcept {
  return {::GetSysColor(COLOR_WINDOWTEXT),
          ::GetSysColor(COLOR_WINDOW),
          ::GetSysColor(COLOR_MENU),
          ::GetSysColor(COLOR_WINDOWTEXT),
          0xCCCCCC,
          0x198232,
          0xDCDCDC,
          0xACACAC};
}

[[nodiscard]] inline Palette PaletteFor(bool dark) noexcept { return dark ? kDarkPalette : LightPalette(); }

// The colours the windows paint with now: the light values from static
// initialisation on, switched by the theme (ui/theme.cpp).
extern Palette ThemePalette;

}  // namespace tarnwick
