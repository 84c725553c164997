#include "ui/theme.h"

#include <uxtheme.h>

#include "app/globals.h"
#include "app/hooks.h"

namespace tarnwick {

namespace {

// Set once start-up has found the system's dark-mode entry points; that
// lookup does not exist yet.
bool darkModeSupported = false;
bool darkModeActive = false;

INT_PTR Colorize(HDC dc, size_t textSlot, size_t backgroundSlot, PaletteBrush& brush) noexcept {
  if (!darkModeSupported || !darkModeActive) return FALSE;
  ::SetTextColor(dc, ThemePalette[textSlot]);
  ::SetBkColor(dc, ThemePalette[backgroundSlot]);
  return reinterpret_cast<INT_PTR>(brush.Get());
}

}  // namespace

// Looks up the system's dark-mode entry points; until that lookup exists the
// program keeps the system's light colours.
void InitDarkMode() {}

bool DarkModeSupported() noexcept { return darkModeSupported; }
bool DarkModeActive() noexcept { return darkModeActive; }
// The user's light or dark choice cannot be read without the dark-mode entry points.
bool ComputeDarkMode() noexcept { return false; }

HBRUSH PaletteBrush::Get() noexcept {
  if (!brush_) brush_.reset(::CreateSolidBrush(ThemePalette[slot_]));
  return brush_.get();
}

LRESULT HandleSettingChange(HWND window, LPARAM lParam) noexcept {
  if (!darkModeSupported) return 0;
  const auto* area = reinterpret_cast<const wchar_t*>(lParam);
  if (area != nullptr && ::CompareStringOrdinal(area, -1, L"ImmersiveColorSet", -1, TRUE) == CSTR_EQUAL) {
    ::SendMessageW(window, WM_THEMECHANGED, 0, 0);
  }
  return 0;
}

bool BeginThemeChange(HWND window, std::initializer_list<PaletteBrush*> brushes) noexcept {
  darkModeActive = ComputeDarkMode();
  if (!darkModeSupported) return false;
  for (PaletteBrush* brush : brushes) brush->Reset();
  AllowWindowDark(window, darkModeActive);
  return true;
}

void AllowWindowDark(HWND, bool) noexcept {}

void ThemeButtons(HWND window, std::initializer_list<int> buttonIds) noexcept {
  for (const int id : buttonIds) {
    HWND button = ::GetDlgItem(window, id);
    if (button == nullptr) continue;
    AllowWindowDark(button, darkModeActive);
    ::SetWindowTheme(button, L"Explorer", nullptr);
    ::RedrawWindow(button, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
  }
}

INT_PTR ColorDialogControl(HDC dc, PaletteBrush& dialogBrush) noexcept {
  return Colorize(dc, kDialogTextSlot, kDialogBackgroundSlot, dialogBrush);
}

INT_PTR ColorListBox(HDC dc, PaletteBrush& listBrush) noexcept {
  return Colorize(dc, kListTextSlot, kListBackgroundSlot, listBrush);
}

std::optional<INT_PTR> HandleDialogThemeMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam,
                                                PaletteBrush& brush, std::initializer_list<int> buttons) noexcept {
  if (message == WM_SETTINGCHANGE) return HandleSettingChange(dialog, lParam);
  if (message == WM_THEMECHANGED) {
    if (BeginThemeChange(dialog, {&brush})) ThemeButtons(dialog, buttons);
    return 0;
  }
  if (IsDialogColorMessage(message)) return ColorDialogControl(reinterpret_cast<HDC>(wParam), brush);
  return std::nullopt;
}

}  // namespace tarnwick
