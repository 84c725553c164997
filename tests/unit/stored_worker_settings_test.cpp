#include "enforce/stored_worker_settings.h"

#include "config/settings_names.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

// Starts and ends without "Software\Tarnwick" under HKEY_CURRENT_USER.
class StoredWorkerSettingsTest : public testing::Test {
 protected:
  void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKeyPath); }
  void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKeyPath); }

  static DWORD Stored(const wchar_t* name) {
    DWORD value = 0xDEAD, size = sizeof(value);
    ::RegGetValueW(HKEY_CURRENT_USER, kSettingsKeyPath, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
  }

  SettingsStore store_{HKEY_CURRENT_USER};
  StoredWorkerSettings settings_{store_};
};

TEST_F(StoredWorkerSettingsTest, FreshAccountUsesEfficiencyModeOnlyAndMenuChangesShowAtTheNextPass) {
  MethodSwitches methods = settings_.ReadMethodSwitches();
  EXPECT_TRUE(methods.efficiencyMode);
  EXPECT_FALSE(methods.cpuAffinity);
  EXPECT_FALSE(methods.cpuSets);
  // As the Methods menu toggles them, through the same store.
  store_.WriteFlag(kMethodEfficiencyMode, false);
  store_.WriteFlag(kMethodCpuSets, true);
  const DWORD seven = 7;
  ::RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKeyPath, kMethodCpuAffinity, REG_DWORD, &seven, sizeof(seven));
  methods = settings_.ReadMethodSwitches();
  EXPECT_FALSE(methods.efficiencyMode);
  EXPECT_TRUE(methods.cpuAffinity) << "any nonzero value is on";
  EXPECT_TRUE(methods.cpuSets);
}

TEST_F(StoredWorkerSettingsTest, PublishesBothCountsEvenWhenZero) {
  settings_.PublishPassCounts(0, 0);
  EXPECT_EQ(Stored(kLastScannedCount), 0u);
  EXPECT_EQ(Stored(kCurrentEnforcedCount), 0u);
  settings_.PublishPassCounts(123, 4);
  EXPECT_EQ(Stored(kLastScannedCount), 123u);
  EXPECT_EQ(Stored(kCurrentEnforcedCount), 4u);
}

}  // namespace
}  // namespace tarnwick
