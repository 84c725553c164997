#include "ui/dark_painters.h"

#include <string>

#include "app/globals.h"
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

// 0x0091: the whole bar in the background colour.
bool PaintMenuBar(HWND window, const MenuBarRecord& record) noexcept {
  MENUBARINFO bar = {};
  static_assert(sizeof(bar) == 48);
  bar.cbSize = sizeof(bar);
  RECT windowRect = {};
  if (!::GetMenuBarInfo(window, OBJID_MENU, 0, &bar) || !::GetWindowRect(window, &windowRect)) return false;
  FillWithColour(record.dc, MenuBarPaintRect(bar.rcBar, windowRect), ThemePalette[kDialogBackgroundSlot]);
  return true;
}

// 0x0092: one item, its background by state and its text.
void PaintMenuBarItem(const MenuBarItemRecord& record) noexcept {
  wchar_t text[256] = {};
  MENUITEMINFOW info = {};
  static_assert(sizeof(info) == 80);
  info.cbSize = sizeof(info);
  info.fMask = MIIM_STRING;
  info.dwTypeData = text;
  info.cch = 255;
  if (!::GetMenuItemInfoW(record.menu.menu, static_cast<UINT>(record.place.position), TRUE, &info)) info.cch = 0;
  const UINT itemState = record.item.itemState;
  const MenuItemColours colours = MenuBarItemColours(MenuBarItemState(itemState), ThemePalette);
  HDC dc = record.menu.dc;
  RECT area = record.item.rcItem;
  FillWithColour(dc, area, colours.background);
  text_colour_scope textColour(dc, colours.text);
  ::DrawTextW(dc, text, static_cast<int>(info.cch), &area, MenuBarItemTextFlags(itemState));
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
        PaintMenuBarItem(*reinterpret_cast<const MenuBarItemRecord*>(lParam));
        return 0;
      }
      break;
    case WM_NCDESTROY:
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
      if (paint) PaintStatusBar(statusBar, paint.get(), paint.area(), *data);
      return 0;
    }
  }
}

}  // namespace tarnwick
