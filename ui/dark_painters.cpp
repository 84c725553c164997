#include "ui/dark_painters.h"

#include <algorithm>
#include <climits>
#include <string>

#include "platform/gdi_scope.h"
#include "ui/theme.h"

namespace tarnwick {

namespace {

// Tested anew for every message the painters would handle.
bool DarkConditionsHold() noexcept { return DarkModeSupported() && DarkModeActive() && QueryAppsDark(); }

// SetBkMode and SetTextColor for one drawing, put back on exit.
class text_colour_scope {
 public:
  text_colour_scope(HDC dc, COLORREF colour) noexcept
      : dc_(dc), mode_(::SetBkMode(dc, TRANSPARENT)), colour_(::SetTextColor(dc, colour)) {}
  ~text_colour_scope() {
    ::SetTextColor(dc_, colour_);
    ::SetBkMode(dc_, mode_);
  }
  text_colour_scope(const text_colour_scope&) = delete;
  text_colour_scope& operator=(const text_colour_scope&) = delete;

 private:
  HDC dc_;
  int mode_;
  COLORREF colour_;
};

void FillWithColour(HDC dc, const RECT& area, COLORREF colour) noexcept {
  unique_hbrush brush(::CreateSolidBrush(colour));
  ::FillRect(dc, &area, brush.get());
}

// MenuBarTheme: the main window's "Menu" theme, opened when a paint needs it
// and closed at every theme change and when the window ends, so no handle
// outlives the theme it was opened under or the window it was opened for.
unique_theme_data MenuBarTheme;

// The theme to draw the menu bar with, or null when the window has none.
HTHEME OpenMenuBarTheme(HWND window) noexcept {
  if (!MenuBarTheme) {
    DarkModeApi& api = CurrentDarkModeApi();
    MenuBarTheme = unique_theme_data(api, api.OpenThemeData(window, L"Menu"));
  }
  return MenuBarTheme.get();
}

// A menu bar item's part in the "Menu" theme.
constexpr int kMenuBarItemPart = 14;

// The bar's background over `area`, in the theme or, without one, in the
// background colour.
void PaintMenuBarBackground(HWND window, HDC dc, const RECT& area) noexcept {
  if (HTHEME theme = OpenMenuBarTheme(window)) {
    CurrentDarkModeApi().DrawThemeBackground(theme, dc, kMenuBarItemPart, 1, area);
  } else {
    FillWithColour(dc, area, ThemePalette[kDialogBackgroundSlot]);
  }
}

// 0x0091: the whole bar.
bool PaintMenuBar(HWND window, const MenuBarRecord& record) noexcept {
  MENUBARINFO bar = {};
  static_assert(sizeof(bar) == 48);
  bar.cbSize = sizeof(bar);
  RECT windowRect = {};
  if (!::GetMenuBarInfo(window, OBJID_MENU, 0, &bar) || !::GetWindowRect(window, &windowRect)) return false;
  PaintMenuBarBackground(window, record.dc, MenuBarPaintRect(bar.rcBar, windowRect));
  return true;
}

// After the frame is painted: the line under the bar in the bar's background.
void PaintMenuBarBottomLine(HWND window) noexcept {
  if (::GetMenu(window) == nullptr || ::IsIconic(window)) return;
  RECT windowRect = {};
  RECT client = {};
  if (!::GetWindowRect(window, &windowRect) || !::GetClientRect(window, &client)) return;
  ::MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
  MENUBARINFO bar = {};
  bar.cbSize = sizeof(bar);
  const LONG barBottom = ::GetMenuBarInfo(window, OBJID_MENU, 0, &bar) ? bar.rcBar.bottom : LONG_MAX;
  const RECT line = MenuBarBottomLine(client, windowRect, barBottom);
  if (::IsRectEmpty(&line)) return;
  window_dc dc(window, window_dc::whole_window);
  if (dc) PaintMenuBarBackground(window, dc.get(), line);
}

// 0x0092: one item, its background by state and its text.
void PaintMenuBarItem(HWND window, const MenuBarItemRecord& record) noexcept {
  wchar_t text[256] = {};
  MENUITEMINFOW info = {};
  static_assert(sizeof(info) == 80);
  info.cbSize = sizeof(info);
  info.fMask = MIIM_STRING;
  info.dwTypeData = text;
  info.cch = 255;
  if (!::GetMenuItemInfoW(record.menu.menu, static_cast<UINT>(record.place.position), TRUE, &info)) info.cch = 0;
  const UINT itemState = record.item.itemState;
  const int state = MenuBarItemState(itemState);
  const UINT flags = MenuBarItemTextFlags(itemState);
  HDC dc = record.menu.dc;
  RECT area = record.item.rcItem;
  if (HTHEME theme = OpenMenuBarTheme(window)) {
    DarkModeApi& api = CurrentDarkModeApi();
    api.DrawThemeBackground(theme, dc, kMenuBarItemPart, state, area);
    api.DrawThemeText(theme, dc, kMenuBarItemPart, state, text, static_cast<int>(info.cch), flags, 0, area);
    return;
  }
  const MenuItemColours colours = MenuBarItemColours(state, ThemePalette);
  FillWithColour(dc, area, colours.background);
  text_colour_scope textColour(dc, colours.text);
  ::DrawTextW(dc, text, static_cast<int>(info.cch), &area, flags);
}

void PaintStatusBar(HWND statusBar, HDC dc, const RECT& area, const StatusBarPaintData& data) noexcept {
  int borders[3] = {};  // horizontal, vertical, between parts
  ::SendMessageW(statusBar, SB_GETBORDERS, 0, reinterpret_cast<LPARAM>(borders));
  select_object_scope font(dc, data.font);
  ::FillRect(dc, &area, data.background.get());
  text_colour_scope textColour(dc, data.text);
  const auto parts = static_cast<int>(::SendMessageW(statusBar, SB_GETPARTS, 0, 0));
  for (int part = 0; part < parts; ++part) {
    RECT partRect = {};
    RECT overlap = {};
    if (!::SendMessageW(statusBar, SB_GETRECT, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(&partRect)) ||
        !::IntersectRect(&overlap, &partRect, &area)) {
      continue;
    }
    StatusPartStrips strips = StatusPartLayout(partRect, borders[2], borders[1]);
    const size_t length = LOWORD(::SendMessageW(statusBar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0));
    std::wstring text(length + 1, L'\0');
    ::SendMessageW(statusBar, SB_GETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(text.data()));
    ::DrawTextW(dc, text.c_str(), static_cast<int>(length), &strips.text, DT_SINGLELINE | DT_VCENTER);
    ::FillRect(dc, &strips.separator, data.separator.get());
  }
}

}  // namespace

// --- Menu bar ------------------------------------------------------------------

int MenuBarItemState(UINT itemState) noexcept {
  int state = 0;
  if ((itemState & (ODS_INACTIVE | ODS_DEFAULT)) != 0) state = 1;
  if ((itemState & ODS_HOTLIGHT) != 0) state = 2;
  if ((itemState & ODS_SELECTED) != 0) state = 2;
  if ((itemState & (ODS_GRAYED | ODS_DISABLED)) != 0) state = 3;
  return state;
}

UINT MenuBarItemTextFlags(UINT itemState) noexcept {
  UINT flags = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
  if ((itemState & ODS_NOACCEL) != 0) flags |= DT_HIDEPREFIX;
  return flags;
}

RECT MenuBarPaintRect(const RECT& barOnScreen, const RECT& windowOnScreen) noexcept {
  RECT area = barOnScreen;
  ::OffsetRect(&area, -windowOnScreen.left, -windowOnScreen.top);
  area.top -= 1;
  return area;
}

RECT MenuBarBottomLine(const RECT& clientOnScreen, const RECT& windowOnScreen, LONG barBottomOnScreen) noexcept {
  RECT line = clientOnScreen;
  line.bottom = line.top;
  line.top = std::min(line.top - 1, barBottomOnScreen);
  ::OffsetRect(&line, -windowOnScreen.left, -windowOnScreen.top);
  return line;
}

MenuItemColours MenuBarItemColours(int state, const Palette& palette) noexcept {
  switch (state) {
    case 2:
      return {palette[kSeparatorSlot], palette[kDialogTextSlot]};
    case 3:
      return {palette[kDialogBackgroundSlot], palette[kParkedSlot]};
    default:
      return {palette[kDialogBackgroundSlot], palette[kDialogTextSlot]};
  }
}

void InstallMenuBarPainter(HWND window) noexcept { ::SetWindowSubclass(window, MenuBarPainter, kMenuBarPainterId, 0); }

LRESULT CALLBACK MenuBarPainter(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                DWORD_PTR) noexcept {
  switch (message) {
    case kMenuBarPaintMessage:
      if (lParam != 0 && DarkConditionsHold() &&
          PaintMenuBar(window, *reinterpret_cast<const MenuBarRecord*>(lParam))) {
        return 0;
      }
      break;
    case kMenuBarItemPaintMessage:
      if (lParam != 0 && DarkConditionsHold()) {
        PaintMenuBarItem(window, *reinterpret_cast<const MenuBarItemRecord*>(lParam));
        return 0;
      }
      break;
    case WM_NCPAINT:
    case WM_NCACTIVATE: {
      // The default frame painting comes first; the line goes over it.
      const LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
      if (DarkConditionsHold()) PaintMenuBarBottomLine(window);
      return result;
    }
    case WM_THEMECHANGED:
    case WM_DPICHANGED:
      // A handle opened under the former theme, or for the former DPI (the
      // theme's sizes and fonts are those of the DPI it was opened at),
      // would keep drawing with it.
      MenuBarTheme.reset();
      break;
    case WM_NCDESTROY:
      MenuBarTheme.reset();
      ::RemoveWindowSubclass(window, MenuBarPainter, id);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(window, message, wParam, lParam);
}

// --- Status bar ----------------------------------------------------------------

StatusPartStrips StatusPartLayout(const RECT& part, int betweenParts, int verticalBorder) noexcept {
  StatusPartStrips strips;
  strips.text = {part.left + betweenParts, part.top, part.right - verticalBorder, part.bottom};
  strips.separator = {part.right - verticalBorder, part.top, part.right, part.bottom};
  return strips;
}

namespace {

// The installed painter's data is also kept in a property of the status bar,
// where the main window finds it (MinGW's comctl32 lacks GetWindowSubclass).
constexpr const wchar_t* kPaintDataProperty = L"Tarnwick.StatusBarPaintData";

StatusBarPaintData* InstalledStatusBarPaintData(HWND statusBar) noexcept {
  if (statusBar == nullptr) return nullptr;
  return static_cast<StatusBarPaintData*>(::GetPropW(statusBar, kPaintDataProperty));
}

}  // namespace

void InstallStatusBarPainter(HWND statusBar, std::unique_ptr<StatusBarPaintData> data) noexcept {
  RemoveStatusBarPainter(statusBar);
  if (statusBar == nullptr || !data) return;
  if (!::SetPropW(statusBar, kPaintDataProperty, data.get())) return;
  if (!::SetWindowSubclass(statusBar, StatusBarPainter, kStatusBarPainterId, reinterpret_cast<DWORD_PTR>(data.get()))) {
    ::RemovePropW(statusBar, kPaintDataProperty);
    return;
  }
  (void)data.release();  // the subclass owns it now
}

void RemoveStatusBarPainter(HWND statusBar) noexcept {
  std::unique_ptr<StatusBarPaintData> data(InstalledStatusBarPaintData(statusBar));
  if (!data) return;
  ::RemoveWindowSubclass(statusBar, StatusBarPainter, kStatusBarPainterId);
  ::RemovePropW(statusBar, kPaintDataProperty);
}

HFONT StatusBarPainterFont(HWND statusBar) noexcept {
  const StatusBarPaintData* data = InstalledStatusBarPaintData(statusBar);
  return data != nullptr ? data->font : nullptr;
}

LRESULT CALLBACK StatusBarPainter(HWND statusBar, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                  DWORD_PTR reference) noexcept {
  auto* data = reinterpret_cast<StatusBarPaintData*>(reference);
  if (message == WM_NCDESTROY) {
    // The last message of the status bar: no brush outlives it.
    ::RemoveWindowSubclass(statusBar, StatusBarPainter, id);
    ::RemovePropW(statusBar, kPaintDataProperty);
    delete data;
    return ::DefSubclassProc(statusBar, message, wParam, lParam);
  }
  const bool paints = message == WM_ERASEBKGND || message == WM_PAINT || message == WM_PRINTCLIENT;
  if (!paints || data == nullptr || !DarkConditionsHold()) return ::DefSubclassProc(statusBar, message, wParam, lParam);
  RECT client = {};
  ::GetClientRect(statusBar, &client);
  switch (message) {
    case WM_ERASEBKGND:
      ::FillRect(reinterpret_cast<HDC>(wParam), &client, data->background.get());
      return 1;
    case WM_PRINTCLIENT:
      PaintStatusBar(statusBar, reinterpret_cast<HDC>(wParam), client, *data);
      return 0;
    default: {
      paint_scope paint(statusBar);
      if (paint) PaintStatusBar(statusBar, paint.get(), paint.Area(), *data);
      return 0;
    }
  }
}

}  // namespace tarnwick
