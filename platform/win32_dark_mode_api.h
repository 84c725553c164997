// The dark-mode seam on Windows: the unnamed uxtheme.dll entry points by
// ordinal, RtlGetNtVersionNumbers and SetWindowCompositionAttribute, each
// looked up once by FindEntryPoints and a silent no-op while absent.
#pragma once

#include <functional>

#include "platform/dark_mode_api.h"
#include "platform/unique_handle.h"

namespace tarnwick {

class Win32DarkModeApi final : public DarkModeApi {
 public:
  // `readDarkModeDisabled` reads the user's setting when asked.
  explicit Win32DarkModeApi(std::function<bool()> readDarkModeDisabled) noexcept
      : readDarkModeDisabled_(std::move(readDarkModeDisabled)) {}

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
  HTHEME OpenThemeData(HWND window, const wchar_t* classList) override;
  void CloseThemeData(HTHEME theme) override;
  void DrawThemeBackground(HTHEME theme, HDC dc, int part, int state, const RECT& area) override;
  void DrawThemeText(HTHEME theme, HDC dc, int part, int state, const wchar_t* text, int length, DWORD flags,
                     DWORD flags2, const RECT& area) override;

 private:
  using OpenNonClientThemeFn = HTHEME(WINAPI*)(HWND, LPCWSTR);
  using VoidFn = void(WINAPI*)();
  using IntFn = void(WINAPI*)(int);
  using BoolQueryFn = bool(WINAPI*)();
  using AllowWindowFn = bool(WINAPI*)(HWND, bool);
  using AllowAppFn = bool(WINAPI*)(bool);
  using AppModeFn = int(WINAPI*)(int);
  using WindowQueryFn = bool(WINAPI*)(HWND);
  struct CompositionData {
    DWORD attribute;
    void* data;
    SIZE_T size;
  };
  using CompositionFn = BOOL(WINAPI*)(HWND, CompositionData*);

  std::function<bool()> readDarkModeDisabled_;
  unique_hmodule uxtheme_;
  OpenNonClientThemeFn openNonClientTheme_ = nullptr;
  VoidFn refreshImmersivePolicy_ = nullptr;
  IntFn refreshContrastCache_ = nullptr;
  BoolQueryFn queryAppsDark_ = nullptr;
  AllowWindowFn allowWindowDark_ = nullptr;
  FARPROC appDarkMode_ = nullptr;  // #135: AllowAppFn or AppModeFn, by build
  WindowQueryFn queryWindowDarkAllowed_ = nullptr;
  CompositionFn setWindowCompositionAttribute_ = nullptr;
};

}  // namespace tarnwick
