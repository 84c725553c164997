#include "tests/fakes/fake_dark_mode_api.h"

#include <cstdio>
#include <cwchar>

namespace tarnwick {

namespace {

std::string Narrow(const wchar_t* text) {
  if (text == nullptr) return "null";
  std::string narrow(1, '"');
  for (; *text != L'\0'; ++text) narrow.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  narrow.push_back('"');
  return narrow;
}

std::string Narrow(const wchar_t* text, int length) {
  if (text == nullptr) return "null";
  return Narrow(std::wstring(text, length >= 0 ? static_cast<size_t>(length) : std::wcslen(text)).c_str());
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%lx", static_cast<unsigned long>(value));
  return text;
}

std::string Corners(const RECT& area) {
  return std::to_string(area.left) + ',' + std::to_string(area.top) + ',' + std::to_string(area.right) + ',' +
         std::to_string(area.bottom);
}

}  // namespace

FakeDarkModeApi::FakeDarkModeApi() : version(NtVersionNumbers{10, 0, 0xF0000000u | 19045u}) {
  entryPoints.openNonClientTheme = true;
  entryPoints.refreshImmersivePolicy = true;
  entryPoints.refreshContrastCache = true;
  entryPoints.queryAppsDark = true;
  entryPoints.allowWindowDark = true;
  entryPoints.appDarkMode = true;
  entryPoints.queryWindowDarkAllowed = true;
  entryPoints.setWindowCompositionAttribute = true;
}

std::vector<std::string> FakeDarkModeApi::CallsStartingWith(std::string_view prefix) const {
  std::vector<std::string> found;
  for (const std::string& call : calls_) {
    if (call.compare(0, prefix.size(), prefix) == 0) found.push_back(call);
  }
  return found;
}

void FakeDarkModeApi::Record(std::initializer_list<std::string_view> parts) {
  if (!recording) return;
  std::string call;
  for (const std::string_view part : parts) {
    if (!call.empty()) call.push_back(' ');
    call.append(part);
  }
  calls_.push_back(std::move(call));
}

std::string FakeDarkModeApi::NameOf(HWND window) const {
  if (window == nullptr) return "null";
  const auto found = names_.find(window);
  return found != names_.end() ? found->second : "window";
}

std::optional<NtVersionNumbers> FakeDarkModeApi::QueryNtVersion() {
  Record({"QueryNtVersion"});
  return version;
}

DarkModeEntryPoints FakeDarkModeApi::FindEntryPoints() {
  Record({"FindEntryPoints"});
  return entryPoints;
}

bool FakeDarkModeApi::DarkModeDisabledSetting() {
  Record({"DarkModeDisabledSetting"});
  return darkModeDisabled;
}

void FakeDarkModeApi::AllowAppDark(bool allow) { Record({"AllowAppDark", std::to_string(allow)}); }

void FakeDarkModeApi::SetAppDarkMode(int mode) { Record({"SetAppDarkMode", std::to_string(mode)}); }

void FakeDarkModeApi::RefreshImmersivePolicy() { Record({"RefreshImmersivePolicy"}); }

void FakeDarkModeApi::RefreshContrastCache(int value) { Record({"RefreshContrastCache", std::to_string(value)}); }

bool FakeDarkModeApi::QueryAppsDark() {
  Record({"QueryAppsDark"});
  return appsDarkSource ? appsDarkSource() : appsDark;
}

bool FakeDarkModeApi::AllowWindowDark(HWND window, bool allow) {
  Record({"AllowWindowDark", NameOf(window), std::to_string(allow)});
  return true;
}

bool FakeDarkModeApi::QueryWindowDarkAllowed(HWND window) {
  Record({"QueryWindowDarkAllowed", NameOf(window)});
  return windowDarkAllowed;
}

HTHEME FakeDarkModeApi::OpenNonClientTheme(HWND window, const wchar_t* classList) {
  Record({"OpenNonClientTheme", NameOf(window), Narrow(classList)});
  return forwardToSystem ? ::OpenThemeData(window, classList) : kFakeTheme;
}

void* FakeDarkModeApi::OpenNonClientThemeAddress() { return nullptr; }

bool FakeDarkModeApi::SetWindowCompositionAttribute(HWND window, DWORD attribute, void* data, SIZE_T size) {
  const std::string value =
      data != nullptr && size == sizeof(BOOL) ? std::to_string(*static_cast<const BOOL*>(data)) : "?";
  Record({"SetWindowCompositionAttribute", NameOf(window), std::to_string(attribute), value});
  return true;
}

bool FakeDarkModeApi::IsHighContrastOn() {
  Record({"IsHighContrastOn"});
  return highContrast;
}

bool FakeDarkModeApi::SetWindowProperty(HWND window, const wchar_t* name, HANDLE value) {
  Record({"SetWindowProperty", NameOf(window), Narrow(name), std::to_string(reinterpret_cast<INT_PTR>(value))});
  return true;
}

void FakeDarkModeApi::SetWindowTheme(HWND window, const wchar_t* subAppName, const wchar_t* subIdList) {
  Record({"SetWindowTheme", NameOf(window), Narrow(subAppName), Narrow(subIdList)});
  if (forwardToSystem) ::SetWindowTheme(window, subAppName, subIdList);
}

std::string FakeDarkModeApi::NameOf(HTHEME theme) const {
  if (theme == nullptr) return "null";
  const auto found = themes_.find(theme);
  return found != themes_.end() ? found->second : "unknown-theme";
}

HTHEME FakeDarkModeApi::OpenThemeData(HWND window, const wchar_t* classList) {
  HTHEME theme = nullptr;
  if (forwardToSystem) {
    theme = ::OpenThemeData(window, classList);
  } else if (themeDataAvailable) {
    theme = reinterpret_cast<HTHEME>(static_cast<INT_PTR>(0x7F00 + themesOpened_));
  }
  std::string name = "null";
  if (theme != nullptr) {
    name = "theme" + std::to_string(++themesOpened_);
    themes_[theme] = name;
  }
  Record({"OpenThemeData", NameOf(window), Narrow(classList), name});
  return theme;
}

void FakeDarkModeApi::CloseThemeData(HTHEME theme) {
  Record({"CloseThemeData", NameOf(theme)});
  themes_.erase(theme);
  if (forwardToSystem) ::CloseThemeData(theme);
}

void FakeDarkModeApi::DrawThemeBackground(HTHEME theme, HDC dc, int part, int state, const RECT& area) {
  Record({"DrawThemeBackground", NameOf(theme), std::to_string(part), std::to_string(state), Corners(area)});
  if (forwardToSystem) ::DrawThemeBackground(theme, dc, part, state, &area, nullptr);
}

void FakeDarkModeApi::DrawThemeText(HTHEME theme, HDC dc, int part, int state, const wchar_t* text, int length,
                                    DWORD flags, DWORD flags2, const RECT& area) {
  Record({"DrawThemeText", NameOf(theme), std::to_string(part), std::to_string(state), Narrow(text, length),
          std::to_string(length), Hex(flags), Hex(flags2), Corners(area)});
  if (forwardToSystem) ::DrawThemeText(theme, dc, part, state, text, length, flags, flags2, &area);
}

}  // namespace tarnwick
