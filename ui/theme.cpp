#include "ui/theme.h"

#include <atomic>

#include "config/settings_names.h"
#include "config/settings_store.h"
#include "platform/delay_import.h"
#include "platform/win32_dark_mode_api.h"

namespace tarnwick {

Palette ThemePalette = LightPalette();

namespace {

// uxtheme's #49, as comctl32 imports it with delay for the scroll bars' theme.
constexpr uint16_t kOpenNonClientThemeOrdinal = 49;

struct DarkModeState {
  DarkModeApi* api = nullptr;
  // Where the system's seam reads "darkmode_disabled"; handed over by InitDarkMode.
  SettingsStore* settings = nullptr;
  bool supported = false;
  DWORD osBuild = 0;
  DarkModeEntryPoints found;
  // Also read by the scroll-bar hook, on whatever thread opens a theme.
  std::atomic<bool> active{false};
};

DarkModeState& State() noexcept {
  static DarkModeState state;
  return state;
}

DarkModeApi& DefaultApi() noexcept {
  static Win32DarkModeApi api([] {
    bool disabled = false;
    if (SettingsStore* settings = State().settings) settings->ReadFlag(kDarkModeDisabled, disabled, false);
    return disabled;
  });
  return api;
}

DarkModeApi& Api() noexcept {
  DarkModeState& state = State();
  return state.api != nullptr ? *state.api : DefaultApi();
}

bool HasRequiredEntryPoints(const DarkModeEntryPoints& found) noexcept {
  return found.openNonClientTheme && found.refreshImmersivePolicy && found.queryAppsDark && found.allowWindowDark &&
         found.appDarkMode && found.queryWindowDarkAllowed;
}

// comctl32 opens the scroll bars' theme through its delay import of #49; the
// hook there gives them the dark theme. Without it they stay light.
void PlantScrollBarHook() noexcept {
  static unique_hmodule comctl32(::LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!comctl32) return;
  (void)PlantDelayImportHook(comctl32.get(), "uxtheme.dll", kOpenNonClientThemeOrdinal,
                             reinterpret_cast<void*>(&ScrollBarThemeHook));
}

INT_PTR Colorize(HDC dc, size_t textSlot, size_t backgroundSlot, PaletteBrush& brush) noexcept {
  if (!DarkModeSupported() || !DarkModeActive()) return FALSE;
  ::SetTextColor(dc, ThemePalette[textSlot]);
  ::SetBkColor(dc, ThemePalette[backgroundSlot]);
  return reinterpret_cast<INT_PTR>(brush.Get());
}

}  // namespace

void UseDarkModeApi(DarkModeApi& api) noexcept { State().api = &api; }

DarkModeApi& CurrentDarkModeApi() noexcept { return Api(); }

void InitDarkMode(SettingsStore& settings) noexcept {
  State().settings = &settings;
  InitDarkMode(Api());
}

void InitDarkMode(DarkModeApi& api) noexcept {
  DarkModeState& state = State();
  state.api = &api;
  state.supported = false;
  state.osBuild = 0;
  state.found = {};
  state.active = false;
  if (api.DarkModeDisabledSetting()) return;
  const std::optional<NtVersionNumbers> version = api.QueryNtVersion();
  if (!version) return;
  state.osBuild = version->build & 0x0FFFFFFF;
  if (version->major != 10 || version->minor != 0 || state.osBuild < kFirstDarkModeBuild) return;
  state.found = api.FindEntryPoints();
  if (!HasRequiredEntryPoints(state.found)) return;
  state.supported = true;
  if (state.osBuild < kPreferredAppModeBuild) {
    api.AllowAppDark(true);
  } else {
    api.SetAppDarkMode(1);
  }
  api.RefreshImmersivePolicy();
  state.active = ComputeDarkMode();
  PlantScrollBarHook();
}

bool DarkModeSupported() noexcept { return State().supported; }
bool DarkModeActive() noexcept { return State().active; }
DWORD OsBuildNumber() noexcept { return State().osBuild; }

bool IsHighContrastOn() noexcept { return Api().IsHighContrastOn(); }

bool ComputeDarkMode() noexcept {
  if (!DarkModeSupported()) return false;
  return Api().QueryAppsDark() && !IsHighContrastOn();
}

bool DarkModeDisabledSetting() noexcept { return Api().DarkModeDisabledSetting(); }

bool QueryAppsDark() noexcept { return DarkModeSupported() && Api().QueryAppsDark(); }

void ApplyPalette(bool dark) noexcept { ThemePalette = PaletteFor(dark); }

void ApplyTitleBarTheme(HWND window) noexcept {
  DarkModeState& state = State();
  DarkModeApi& api = Api();
  BOOL dark = api.QueryWindowDarkAllowed(window) && api.QueryAppsDark() && !IsHighContrastOn();
  if (state.osBuild < kPreferredAppModeBuild) {
    api.SetWindowProperty(window, L"UseImmersiveDarkModeColors", reinterpret_cast<HANDLE>(static_cast<INT_PTR>(dark)));
  } else if (state.found.setWindowCompositionAttribute) {
    api.SetWindowCompositionAttribute(window, kUseDarkModeColorsAttribute, &dark, sizeof(dark));
  }
}

HTHEME WINAPI ScrollBarThemeHook(HWND window, LPCWSTR classList) noexcept {
  if (DarkModeActive() && classList != nullptr &&
      ::CompareStringOrdinal(classList, -1, L"ScrollBar", -1, FALSE) == CSTR_EQUAL) {
    return Api().OpenNonClientTheme(nullptr, L"Explorer::ScrollBar");
  }
  return Api().OpenNonClientTheme(window, classList);
}

HBRUSH PaletteBrush::Get() noexcept {
  if (!brush_) brush_.reset(::CreateSolidBrush(ThemePalette[slot_]));
  return brush_.get();
}

LRESULT HandleSettingChange(HWND window, LPARAM lParam) noexcept {
  if (!DarkModeSupported()) return 0;
  DarkModeApi& api = Api();
  const bool refreshContrast = State().found.refreshContrastCache;
  const auto* area = reinterpret_cast<const wchar_t*>(lParam);
  if (area != nullptr && ::CompareStringOrdinal(area, -1, L"ImmersiveColorSet", -1, TRUE) == CSTR_EQUAL) {
    api.RefreshImmersivePolicy();
    if (refreshContrast) api.RefreshContrastCache(1);
    ::SendMessageW(window, WM_THEMECHANGED, 0, 0);
  } else if (refreshContrast) {
    api.RefreshContrastCache(1);
  }
  return 0;
}

bool BeginThemeChange(HWND window, std::initializer_list<PaletteBrush*> brushes) noexcept {
  DarkModeState& state = State();
  state.active = ComputeDarkMode();
  if (!state.supported) return false;
  ApplyPalette(state.active);
  for (PaletteBrush* brush : brushes) brush->Reset();
  AllowWindowDark(window, state.active);
  ApplyTitleBarTheme(window);
  return true;
}

void RedrawFrame(HWND window) noexcept {
  ::RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
  if (::GetMenu(window) != nullptr) ::DrawMenuBar(window);
}

void AllowWindowDark(HWND window, bool dark) noexcept {
  if (DarkModeSupported()) Api().AllowWindowDark(window, dark);
}

void SetWindowVisualStyle(HWND window, const wchar_t* subAppName, const wchar_t* subIdList) noexcept {
  Api().SetWindowTheme(window, subAppName, subIdList);
}

void ThemeButtons(HWND window, std::initializer_list<int> buttonIds) noexcept {
  for (const int id : buttonIds) {
    HWND button = ::GetDlgItem(window, id);
    if (button == nullptr) continue;
    AllowWindowDark(button, DarkModeActive());
    SetWindowVisualStyle(button, L"Explorer", nullptr);
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
    if (BeginThemeChange(dialog, {&brush})) {
      ThemeButtons(dialog, buttons);
      RedrawFrame(dialog);
    }
    return 0;
  }
  if (IsDialogColorMessage(message)) return ColorDialogControl(reinterpret_cast<HDC>(wParam), brush);
  return std::nullopt;
}

}  // namespace tarnwick
