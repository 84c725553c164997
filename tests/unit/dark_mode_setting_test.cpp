// Start-up hands dark mode the settings store: the system's seam reads the
// user's "darkmode_disabled" from it, as the program's start-up gives it.
// Its own program: no other test here puts a seam of its own in place.
#include "config/settings_names.h"
#include "config/settings_store.h"
#include "ui/theme.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(DarkModeStartUp, TheSystemSeamReadsDarkModeDisabledFromTheHandedSettings) {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnwick");
  SettingsStore settings(HKEY_CURRENT_USER);
  ASSERT_TRUE(settings.WriteFlag(kDarkModeDisabled, true));
  InitDarkMode(settings);
  EXPECT_TRUE(DarkModeDisabledSetting());

  ASSERT_TRUE(settings.WriteFlag(kDarkModeDisabled, false));
  settings.Invalidate(kDarkModeDisabled);
  EXPECT_FALSE(DarkModeDisabledSetting());
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarnwick");
}

}  // namespace
}  // namespace tarnwick
