#include "platform/win32_dark_mode_api.h"

namespace tarnwick {

namespace {

// GetProcAddress returns FARPROC; each entry point has its own signature.
template <typename Fn>
Fn Lookup(HMODULE module, WORD ordinal) noexcept {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

}  // namespace

std::optional<NtVersionNumbers> Win32DarkModeApi::QueryNtVersion() {
  using VersionFn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return std::nullopt;
  const auto query = reinterpret_cast<VersionFn>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetNtVersionNumbers")));
  if (query == nullptr) return std::nullopt;
  NtVersionNumbers version;
  query(&version.major, &version.minor, &version.build);
  return version;
}

DarkModeEntryPoints Win32DarkModeApi::FindEntryPoints() {
  uxtheme_.reset(::LoadLibraryExW(L"uxtheme.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!uxtheme_) return {};
  HMODULE module = uxtheme_.get();
  open_non_client_theme_ = Lookup<OpenNonClientThemeFn>(module, 49);
  refresh_immersive_policy_ = Lookup<VoidFn>(module, 104);
  refresh_contrast_cache_ = Lookup<IntFn>(module, 106);
  query_apps_dark_ = Lookup<BoolQueryFn>(module, 132);
  allow_window_dark_ = Lookup<AllowWindowFn>(module, 133);
  app_dark_mode_ = ::GetProcAddress(module, MAKEINTRESOURCEA(135));
  query_window_dark_allowed_ = Lookup<WindowQueryFn>(module, 137);
  if (HMODULE user32 = ::GetModuleHandleW(L"user32.dll")) {
    set_window_composition_attribute_ = reinterpret_cast<CompositionFn>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "SetWindowCompositionAttribute")));
  }
  DarkModeEntryPoints found;
  found.openNonClientTheme = open_non_client_theme_ != nullptr;
  found.refreshImmersivePolicy = refresh_immersive_policy_ != nullptr;
  found.refreshContrastCache = refresh_contrast_cache_ != nullptr;
  found.queryAppsDark = query_apps_dark_ != nullptr;
  found.allowWindowDark = allow_window_dark_ != nullptr;
  found.appDarkMode = app_dark_mode_ != nullptr;
  found.queryWindowDarkAllowed = query_window_dark_allowed_ != nullptr;
  found.setWindowCompositionAttribute = set_window_composition_attribute_ != nullptr;
  return found;
}

bool Win32DarkModeApi::DarkModeDisabledSetting() { return read_dark_mode_disabled_ && read_dark_mode_disabled_(); }

void Win32DarkModeApi::AllowAppDark(bool allow) {
  if (app_dark_mode_ != nullptr) reinterpret_cast<AllowAppFn>(reinterpret_cast<void*>(app_dark_mode_))(allow);
}

void Win32DarkModeApi::SetAppDarkMode(int mode) {
  if (app_dark_mode_ != nullptr) reinterpret_cast<AppModeFn>(reinterpret_cast<void*>(app_dark_mode_))(mode);
}

void Win32DarkModeApi::RefreshImmersivePolicy() {
  if (refresh_immersive_policy_ != nullptr) refresh_immersive_policy_();
}

void Win32DarkModeApi::RefreshContrastCache(int value) {
  if (refresh_contrast_cache_ != nullptr) refresh_contrast_cache_(value);
}

bool Win32DarkModeApi::QueryAppsDark() { return query_apps_dark_ != nullptr && query_apps_dark_(); }

bool Win32DarkModeApi::AllowWindowDark(HWND window, bool allow) {
  return allow_window_dark_ != nullptr && allow_window_dark_(window, allow);
}

bool Win32DarkModeApi::QueryWindowDarkAllowed(HWND window) {
  return query_window_dark_allowed_ != nullptr && query_window_dark_allowed_(window);
}

HTHEME Win32DarkModeApi::OpenNonClientTheme(HWND window, const wchar_t* classList) {
  return open_non_client_theme_ != nullptr ? open_non_client_theme_(window, classList) : nullptr;
}

void* Win32DarkModeApi::OpenNonClientThemeAddress() { return reinterpret_cast<void*>(open_non_client_theme_); }

bool Win32DarkModeApi::SetWindowCompositionAttribute(HWND window, DWORD attribute, void* data, SIZE_T size) {
  if (set_window_composition_attribute_ == nullptr) return false;
  CompositionData record{attribute, data, size};
  return set_window_composition_attribute_(window, &record) != FALSE;
}

bool Win32DarkModeApi::IsHighContrastOn() {
  HIGHCONTRASTW contrast = {};
  static_assert(sizeof(contrast) == 16);
  contrast.cbSize = sizeof(contrast);
  if (!::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0)) return false;
  return (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

bool Win32DarkModeApi::SetWindowProperty(HWND window, const wchar_t* name, HANDLE value) {
  return ::SetPropW(window, name, value) != FALSE;
}

void Win32DarkModeApi::SetWindowTheme(HWND window, const wchar_t* subAppName, const wchar_t* subIdList) {
  ::SetWindowTheme(window, subAppName, subIdList);
}

}  // namespace tarnwick
