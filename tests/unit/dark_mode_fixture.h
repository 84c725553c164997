// Dark mode over the recording fake for the tests of one program: SetUp makes
// the process's dark mode use a fresh fake; TearDown leaves the process
// unsupported and light again, as under Wine, before the fake goes.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>

#include "tests/fakes/fake_dark_mode_api.h"
#include "ui/theme.h"

namespace tarnwick {

class DarkModeFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_ = std::make_unique<FakeDarkModeApi>();
    UseDarkModeApi(*fake_);
  }

  void TearDown() override {
    static FakeDarkModeApi switchedOff;
    switchedOff.darkModeDisabled = true;
    switchedOff.recording = false;
    InitDarkMode(switchedOff);
    ThemePalette = LightPalette();
    fake_.reset();
  }

  FakeDarkModeApi& Fake() { return *fake_; }

  // Start-up over the fake as scripted, then a clean log.
  void StartUp() {
    InitDarkMode(*fake_);
    fake_->ClearCalls();
  }

 private:
  std::unique_ptr<FakeDarkModeApi> fake_;
};

// A window subclass that counts the frame paints into the int at `reference`:
// whether a title bar was repainted.
inline LRESULT CALLBACK CountFramePaints(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                         DWORD_PTR reference) noexcept {
  if (message == WM_NCPAINT) ++*reinterpret_cast<int*>(reference);
  return ::DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace tarnwick
