// The main window's menu bar and status bar while dark: neither follows the
// dark palette by itself, so two subclass procedures paint them. Both pass
// every message on to the default procedure unless dark mode is supported,
// active and chosen by the user, so the system draws the light look.
//
// The menu bar is painted on two messages Windows sends a window with a menu
// bar but does not publish: 0x0091 (the bar's background) and 0x0092 (one
// item). Their records are declared here with their 64-bit layout checked at
// compile time; the state numbers, text flags and rectangles are pure
// functions, the rules a replacement on another platform reproduces.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <climits>
#include <cstddef>
#include <memory>

#include "platform/unique_handle.h"
#include "ui/palette.h"

namespace tarnwick {

// --- Menu bar ------------------------------------------------------------------

inline constexpr UINT kMenuBarPaintMessage = 0x0091;
inline constexpr UINT kMenuBarItemPaintMessage = 0x0092;
inline constexpr UINT_PTR kMenuBarPainterId = 0x1111;

// The parameter of 0x0091, and part of that of 0x0092.
struct MenuBarRecord {
  HMENU menu;
  HDC dc;
  DWORD flags;
};
// The menu bar's own part of an item record: the item's position, then
// metrics the painter does not read.
struct MenuBarItemPlace {
  int position;
  std::byte metrics[52];
};
// The parameter of 0x0092.
struct MenuBarItemRecord {
  DRAWITEMSTRUCT item;
  MenuBarRecord menu;
  MenuBarItemPlace place;
};
static_assert(sizeof(DRAWITEMSTRUCT) == 64 && offsetof(DRAWITEMSTRUCT, itemState) == 16 &&
              offsetof(DRAWITEMSTRUCT, rcItem) == 40);
static_assert(sizeof(MenuBarRecord) == 24 && offsetof(MenuBarRecord, dc) == 8 && offsetof(MenuBarRecord, flags) == 16);
static_assert(offsetof(MenuBarItemRecord, menu) == 64 && offsetof(MenuBarItemRecord, place) == 88);
static_assert(offsetof(MenuBarItemRecord, menu) + offsetof(MenuBarRecord, dc) == 72);
static_assert(offsetof(MenuBarItemRecord, menu) + offsetof(MenuBarRecord, flags) == 80);
static_assert(sizeof(MenuBarItemRecord) == 144);

// The state number of an item: 0 normal, 1 inactive or default, 2 hot or
// selected, 3 greyed or disabled; each later test overrides the earlier ones.
[[nodiscard]] int MenuBarItemState(UINT itemState) noexcept;
// Centred on one line; without the access-key underline when ODS_NOACCEL says so.
[[nodiscard]] UINT MenuBarItemTextFlags(UINT itemState) noexcept;
// The bar's rectangle in window coordinates, one pixel higher, so it also
// covers the line the system leaves between the caption and the bar.
[[nodiscard]] RECT MenuBarPaintRect(const RECT& barOnScreen, const RECT& windowOnScreen) noexcept;

// The rows between the menu bar and the client area, in window coordinates:
// the default frame painting draws them light, and no menu bar message paints
// them. From the bar's bottom edge (as far down as the system draws the bar
// at the window's DPI) to the client area, and at least the one row above it.
[[nodiscard]] RECT MenuBarBottomLine(const RECT& clientOnScreen, const RECT& windowOnScreen,
                                     LONG barBottomOnScreen = LONG_MAX) noexcept;

struct MenuItemColours {
  COLORREF background;
  COLORREF text;
};
// Background and text of an item in that state, from the palette, for a
// window without a "Menu" theme to draw with.
[[nodiscard]] MenuItemColours MenuBarItemColours(int state, const Palette& palette) noexcept;

// Installs MenuBarPainter on the main window; it removes itself, and closes
// the "Menu" theme it drew with, when the window is destroyed. While dark it
// also paints over the light line under the bar after every frame painting
// (WM_NCPAINT, WM_NCACTIVATE).
void InstallMenuBarPainter(HWND window) noexcept;
LRESULT CALLBACK MenuBarPainter(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                DWORD_PTR reference) noexcept;

// --- Status bar ----------------------------------------------------------------

inline constexpr UINT_PTR kStatusBarPainterId = 1;

// What the dark status bar is painted with. The brushes belong to it; the
// font belongs to the main window, which outlives the status bar.
struct StatusBarPaintData {
  unique_hbrush background;
  unique_hbrush separator;
  HFONT font = nullptr;
  COLORREF text = 0;
};

// The strips of one part: its text, narrowed by the gap between parts on the
// left and the vertical border on the right, and the separator, the part's
// last `verticalBorder` pixels over its full height.
struct StatusPartStrips {
  RECT text;
  RECT separator;
};
[[nodiscard]] StatusPartStrips StatusPartLayout(const RECT& part, int betweenParts, int verticalBorder) noexcept;

// Installs StatusBarPainter on the status bar with `data`, first removing
// (and freeing the data of) one installed before. The painter and its data
// end with the status bar at the latest.
void InstallStatusBarPainter(HWND statusBar, std::unique_ptr<StatusBarPaintData> data) noexcept;
// Removes the painter and frees its data; nothing when none is installed.
void RemoveStatusBarPainter(HWND statusBar) noexcept;
// The font the installed painter draws with, or null without a painter.
[[nodiscard]] HFONT StatusBarPainterFont(HWND statusBar) noexcept;
LRESULT CALLBACK StatusBarPainter(HWND statusBar, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                  DWORD_PTR reference) noexcept;

}  // namespace tarnwick
