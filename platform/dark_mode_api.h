// The system's dark rendering: uxtheme.dll's unnamed entry points (obtained by
// ordinal), RtlGetNtVersionNumbers, the title bar's dark attribute, the
// high-contrast query, visual styles per window and the user's setting that
// switches dark mode off. Nothing of it is published by Windows, and Wine has
// none of the uxtheme ordinals 132 to 137, so the theme logic reaches it only
// through this seam: Win32DarkModeApi on Windows, FakeDarkModeApi in tests.
#pragma once

#include <windows.h>
#include <uxtheme.h>

#include <cstdint>
#include <optional>
#include <utility>

namespace tarnwick {

// The three results of RtlGetNtVersionNumbers, build number as returned (its
// top four bits carry flags).
struct NtVersionNumbers {
  DWORD major = 0;
  DWORD minor = 0;
  DWORD build = 0;
};

// Which entry points the lookup found.
struct DarkModeEntryPoints {
  bool openNonClientTheme = false;             // uxtheme #49
  bool refreshImmersivePolicy = false;         // uxtheme #104
  bool refreshContrastCache = false;           // uxtheme #106 (optional)
  bool queryAppsDark = false;                  // uxtheme #132
  bool allowWindowDark = false;                // uxtheme #133
  bool appDarkMode = false;                    // uxtheme #135, in either of its two forms
  bool queryWindowDarkAllowed = false;         // uxtheme #137
  bool setWindowCompositionAttribute = false;  // user32, by name (optional)
};

// SetWindowCompositionAttribute's attribute that asks for a dark title bar.
inline constexpr DWORD kUseDarkModeColorsAttribute = 26;

class DarkModeApi {
 public:
  DarkModeApi() = default;
  DarkModeApi(const DarkModeApi&) = delete;
  DarkModeApi& operator=(const DarkModeApi&) = delete;
  virtual ~DarkModeApi() = default;

  // --- Looked up once, at start-up, before any window exists.
  // RtlGetNtVersionNumbers of the loaded ntdll.dll; nullopt when it is absent.
  [[nodiscard]] virtual std::optional<NtVersionNumbers> QueryNtVersion() = 0;
  // Loads uxtheme.dll from System32 (kept loaded for the run) and looks up the
  // entry points; nothing found when the library does not load.
  [[nodiscard]] virtual DarkModeEntryPoints FindEntryPoints() = 0;
  // The user's "darkmode_disabled" setting (default false).
  [[nodiscard]] virtual bool DarkModeDisabledSetting() = 0;

  // --- Entry points; each is called only when the lookup found it.
  // #135 below build 18362: allows dark rendering for the process.
  virtual void AllowAppDark(bool allow) = 0;
  // #135 from build 18362 on: the process's preference (1: follow the user).
  virtual void SetAppDarkMode(int mode) = 0;
  virtual void RefreshImmersivePolicy() = 0;
  virtual void RefreshContrastCache(int value) = 0;
  [[nodiscard]] virtual bool QueryAppsDark() = 0;
  virtual bool AllowWindowDark(HWND window, bool allow) = 0;
  [[nodiscard]] virtual bool QueryWindowDarkAllowed(HWND window) = 0;
  // #49. The theme handle belongs to the caller (CloseThemeData).
  [[nodiscard]] virtual HTHEME OpenNonClientTheme(HWND window, const wchar_t* classList) = 0;
  // The address of #49 itself, the function the scroll-bar hook stands in for; null when absent.
  [[nodiscard]] virtual void* OpenNonClientThemeAddress() = 0;
  // SetWindowCompositionAttribute(window, {attribute, data, size}).
  virtual bool SetWindowCompositionAttribute(HWND window, DWORD attribute, void* data, SIZE_T size) = 0;

  // --- Documented calls the theme logic makes through the same seam, so a
  // test sees them in one log with the others.
  // SystemParametersInfoW(SPI_GETHIGHCONTRAST): false when the query fails.
  [[nodiscard]] virtual bool IsHighContrastOn() = 0;
  // SetPropW(window, name, value).
  virtual bool SetWindowProperty(HWND window, const wchar_t* name, HANDLE value) = 0;
  // SetWindowTheme(window, subAppName, subIdList).
  virtual void SetWindowTheme(HWND window, const wchar_t* subAppName, const wchar_t* subIdList) = 0;
  // The themed drawing of the dark menu bar: OpenThemeData (null when the
  // window has no theme; the handle belongs to the caller), CloseThemeData,
  // DrawThemeBackground and DrawThemeText.
  [[nodiscard]] virtual HTHEME OpenThemeData(HWND window, const wchar_t* classList) = 0;
  virtual void CloseThemeData(HTHEME theme) = 0;
  virtual void DrawThemeBackground(HTHEME theme, HDC dc, int part, int state, const RECT& area) = 0;
  virtual void DrawThemeText(HTHEME theme, HDC dc, int part, int state, const wchar_t* text, int length, DWORD flags,
                             DWORD flags2, const RECT& area) = 0;
};

// A theme handle opened through the seam, closed through the same seam.
class unique_theme_data {
 public:
  unique_theme_data() noexcept = default;
  unique_theme_data(DarkModeApi& api, HTHEME theme) noexcept : api_(theme != nullptr ? &api : nullptr), theme_(theme) {}
  ~unique_theme_data() { reset(); }
  unique_theme_data(const unique_theme_data&) = delete;
  unique_theme_data& operator=(const unique_theme_data&) = delete;
  unique_theme_data(unique_theme_data&& other) noexcept
      : api_(std::exchange(other.api_, nullptr)), theme_(std::exchange(other.theme_, nullptr)) {}
  unique_theme_data& operator=(unique_theme_data&& other) noexcept {
    if (this != &other) {
      reset();
      api_ = std::exchange(other.api_, nullptr);
      theme_ = std::exchange(other.theme_, nullptr);
    }
    return *this;
  }

  [[nodiscard]] HTHEME get() const noexcept { return theme_; }
  explicit operator bool() const noexcept { return theme_ != nullptr; }
  void reset() noexcept {
    DarkModeApi* api = std::exchange(api_, nullptr);
    if (HTHEME theme = std::exchange(theme_, nullptr)) api->CloseThemeData(theme);
  }

 private:
  DarkModeApi* api_ = nullptr;
  HTHEME theme_ = nullptr;
};

}  // namespace tarnwick
