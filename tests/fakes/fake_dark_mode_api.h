// A scripted stand-in for the dark-mode seam. It answers from the fields a
// test sets (a Windows build, the entry points found, the user's choice, high
// contrast) and records every call in one log, in call order, with windows
// shown by the names a test gives them, so a test can say "AllowWindowDark
// main 1, then SetWindowCompositionAttribute main 26 1".
#pragma once

#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dark_mode_api.h"

namespace tarnwick {

class FakeDarkModeApi final : public DarkModeApi {
 public:
  // Windows 10 build 19045 with every entry point, the user's choice dark.
  FakeDarkModeApi();

  // Scripted state, read at the moment of each call.
  std::optional<NtVersionNumbers> version;
  DarkModeEntryPoints entryPoints;
  bool darkModeDisabled = false;
  bool appsDark = true;
  bool highContrast = false;
  bool windowDarkAllowed = true;
  // When set, asked instead of `appsDark`.
  std::function<bool()> appsDarkSource;
  // Visual styles and the scroll-bar theme also reach the system, so that
  // windows look as they would; off, they are only recorded.
  bool forwardToSystem = false;
  // Whether OpenThemeData finds a theme (when it does not forward).
  bool themeDataAvailable = true;
  // Off for long runs: the log then stays empty.
  bool recording = true;

  // Windows are logged by these names, others as "window".
  void NameWindow(HWND window, std::string name) { names_[window] = std::move(name); }
  [[nodiscard]] const std::vector<std::string>& Calls() const { return calls_; }
  [[nodiscard]] std::vector<std::string> CallsStartingWith(std::string_view prefix) const;
  void ClearCalls() { calls_.clear(); }
  // Theme handles OpenThemeData gave out and CloseThemeData has not closed.
  [[nodiscard]] size_t OpenThemes() const { return themes_.size(); }

  std::optional<NtVersionNumbers> QueryNtVersion() override;
  DarkModeEntryPoints FindEntryPoints() override;
  bool DarkModeDisabledSetting() override;
  void AllowAppDark(bool allow) override;
  void SetAppDarkMode(int mode) override;
  void RefreshImmersivePolicy() override;
  void RefreshContrastCache(int value) override;
  bool QueryAppsDark() override;
  bool AllowWindowDark(HWND window, bool allow) override;
  bool QueryWindowDarkAllowed(HWND window) override;
  HTHEME OpenNonClientTheme(HWND window, const wchar_t* classList) override;
  void* OpenNonClientThemeAddress() override;
  bool SetWindowCompositionAttribute(HWND window, DWORD attribute, void* data, SIZE_T size) override;
  bool IsHighContrastOn() override;
  bool SetWindowProperty(HWND window, const wchar_t* name, HANDLE value) override;
  void SetWindowTheme(HWND window, const wchar_t* subAppName, const wchar_t* subIdList) override;
  // Theme handles are logged as "theme1", "theme2"... in the order they were opened.
  HTHEME OpenThemeData(HWND window, const wchar_t* classList) override;
  void CloseThemeData(HTHEME theme) override;
  void DrawThemeBackground(HTHEME theme, HDC dc, int part, int state, const RECT& area) override;
  void DrawThemeText(HTHEME theme, HDC dc, int part, int state, const wchar_t* text, int length, DWORD flags,
                     DWORD flags2, const RECT& area) override;

  // The theme handle OpenNonClientTheme answers when it does not forward.
  static inline const HTHEME kFakeTheme = reinterpret_cast<HTHEME>(static_cast<INT_PTR>(0x7E7E));

 private:
  void Record(std::initializer_list<std::string_view> parts);
  [[nodiscard]] std::string NameOf(HWND window) const;
  [[nodiscard]] std::string NameOf(HTHEME theme) const;

  std::vector<std::string> calls_;
  std::map<HWND, std::string> names_;
  std::map<HTHEME, std::string> themes_;
  int themesOpened_ = 0;
};

}  // namespace tarnwick
