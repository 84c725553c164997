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
  const auto query =
      reinterpret_cast<VersionFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetNtVersionNumbers")));
  if (query == nullptr) return std::nullopt;
  NtVersionNumbers version;
  query(&version.major, &version.minor, &version.build);
  return version;
}

DarkModeEntryPoints Win32DarkModeApi::FindEntryPoints() {
  uxtheme_.reset(::LoadLibraryExW(L"uxtheme.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!uxtheme_) return {};
  HMODULE module = uxtheme_.get();
  openNonClientTheme_ = Lookup<OpenNonClientThemeFn>(module, 49);
  refreshImmersivePolicy_ = Lookup<VoidFn>(module, 104);
  refreshContrastCache_ = Lookup<IntFn>(module, 106);
  queryAppsDark_ = Lookup<BoolQueryFn>(module, 132);
  allowWindowDark_ = Lookup<AllowWindowFn>(module, 133);
  appDarkMode_ = ::GetProcAddress(module, MAKEINTRESOURCEA(135));
  queryWindowDarkAllowed_ = Lookup<WindowQueryFn>(module, 137);
  if (HMODULE user32 = ::GetModuleHandleW(L"user32.dll")) {
    setWindowCompositionAttribute_ = reinterpret_cast<CompositionFn>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "SetWindowCompositionAttribute")));
  }
  DarkModeEntryPoints found;
  found.openNonClientTheme = openNonClientTheme_ != nullptr;
  found.refreshImmersivePolicy = refreshImmersivePolicy_ != nullptr;
  found.refreshContrastCache = refreshContrastCache_ != nullptr;
  found.queryAppsDark = queryAppsDark_ != nullptr;
  found.allowWindowDark = allowWindowDark_ != nullptr;
  found.appDarkMode = appDarkMode_ != nullptr;
  found.queryWindowDarkAllowed = queryWindowDarkAllowed_ != nullptr;
  found.setWindowCompositionAttribute = setWindowCompositionAttribute_ != nullptr;
  return found;
}

bool Win32DarkModeApi::DarkModeDisabledSetting() { return readDarkModeDisabled_ && readDarkModeDisabled_(); }

void Win32DarkModeApi::AllowAppDark(bool allow) {
  if (appDarkMode_ != nullptr) reinterpret_cast<AllowAppFn>(reinterpret_cast<void*>(appDarkMode_))(allow);
}

void Win32DarkModeApi::SetAppDarkMode(int mode) {
  if (appDarkMode_ != nullptr) reinterpret_cast<AppModeFn>(reinterpret_cast<void*>(appDarkMode_))(mode);
}

void Win32DarkModeApi::RefreshImmersivePolicy() {
  if (refreshImmersivePolicy_ != nullptr) refreshImmersivePolicy_();
}

void Win32DarkModeApi::RefreshContrastCache(int value) {
  if (refreshContrastCache_ != nullptr) refreshContrastCache_(value);
}

bool Win32DarkModeApi::QueryAppsDark() { return queryAppsDark_ != nullptr && queryAppsDark_(); }

bool Win32DarkModeApi::AllowWindowDark(HWND window, bool allow) {
  return allowWindowDark_ != nullptr && allowWindowDark_(window, allow);
}

bool Win32DarkModeApi::QueryWindowDarkAllowed(HWND window) {
  return queryWindowDarkAllowed_ != nullptr && queryWindowDarkAllowed_(window);
}

HTHEME Win32DarkModeApi::OpenNonClientTheme(HWND window, const wchar_t* classList) {
  return openNonClientTheme_ != nullptr ? openNonClientTheme_(window, classList) : nullptr;
}

void* Win32DarkModeApi::OpenNonClientThemeAddress() { return reinterpret_cast<void*>(openNonClientTheme_); }

bool Win32DarkModeApi::SetWindowCompositionAttribute(HWND window, DWORD attribute, void* data, SIZE_T size) {
  if (setWindowCompositionAttribute_ == nullptr) return false;
  CompositionData record{attribute, data, size};
  return setWindowCompositionAttribute_(window, &record) != FALSE;
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

HTHEME Win32DarkModeApi::OpenThemeData(HWND window, const wchar_t* classList) {
  return ::OpenThemeData(window, classList);
}

void Win32DarkModeApi::CloseThemeData(HTHEME theme) { ::CloseThemeData(theme); }

void Win32DarkModeApi::DrawThemeBackground(HTHEME theme, HDC dc, int part, int state, const RECT& area) {
  ::DrawThemeBackground(theme, dc, part, state, &area, nullptr);
}

void Win32DarkModeApi::DrawThemeText(HTHEME theme, HDC dc, int part, int state, const wchar_t* text, int length,
                                     DWORD flags, DWORD flags2, const RECT& area) {
  ::DrawThemeText(theme, dc, part, state, text, length, flags, flags2, &area);
}

}  // namespace tarnwick
