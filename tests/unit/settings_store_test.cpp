#include "config/settings_names.h"
#include "config/settings_store.h"
#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include "tests/support/scratch_registry.h"

#include <thread>

namespace tarnwick {
namespace {

// Each test starts and ends without "Software\Tarnwick" under either root and
// puts values there behind the store's back, as another program would.
class SettingsStoreTest : public testing::Test {
 protected:
  // "BetaUpdates" is also a machine setting.
  testing_support::ScopedScratchLocalMachine scratchMachine_;
  void SetUp() override { DeleteKeys(); }
  void TearDown() override { DeleteKeys(); }

  static void DeleteKeys() {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKeyPath);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKeyPath);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettingsKeyPath);
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSettingsKeyPath);
  }
  static void Put(HKEY root, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(::RegSetKeyValueW(root, kSettingsKeyPath, name, type, data, size), ERROR_SUCCESS);
  }
  static void PutDword(const wchar_t* name, DWORD value, HKEY root = HKEY_CURRENT_USER) {
    Put(root, name, REG_DWORD, &value, sizeof(value));
  }
  static bool KeyExists(HKEY root) {
    unique_hkey key;
    return ::RegOpenKeyExW(root, kSettingsKeyPath, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
  }
  static bool Stored(const wchar_t* name, DWORD& value, HKEY root = HKEY_CURRENT_USER) {
    DWORD size = sizeof(value);
    return ::RegGetValueW(root, kSettingsKeyPath, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
  }

  SettingsStore store_{HKEY_CURRENT_USER};
};

TEST_F(SettingsStoreTest, FirstReadCreatesTheKeyAndYieldsTheDefault) {
  bool on = true;
  EXPECT_FALSE(store_.ReadFlag(kDarkModeDisabled, on, false));
  EXPECT_FALSE(on);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER));
  EXPECT_FALSE(store_.ReadFlag(kMethodEfficiencyMode, on, true));
  EXPECT_TRUE(on);
}

TEST_F(SettingsStoreTest, FailedReadsAreNotCachedButGetFlagRemembersItsFailure) {
  bool on = false;
  uint32_t number = 5;
  EXPECT_FALSE(store_.ReadFlag(kMethodCpuSets, on, false));
  EXPECT_FALSE(store_.ReadNumber(kLastScannedCount, number));
  EXPECT_EQ(number, 0u);
  EXPECT_FALSE(store_.GetFlag(kBetaUpdates));

  PutDword(kMethodCpuSets, 1);
  PutDword(kLastScannedCount, 42);
  PutDword(kBetaUpdates, 1);
  EXPECT_TRUE(store_.ReadFlag(kMethodCpuSets, on, false));
  EXPECT_TRUE(on);
  EXPECT_TRUE(store_.ReadNumber(kLastScannedCount, number));
  EXPECT_EQ(number, 42u);
  EXPECT_FALSE(store_.GetFlag(kBetaUpdates)) << "the failed read is remembered as off";
  store_.Invalidate(kBetaUpdates);
  EXPECT_TRUE(store_.GetFlag(kBetaUpdates));
}

TEST_F(SettingsStoreTest, ReadsAreCachedUntilWrittenThroughThisStore) {
  PutDword(kMethodCpuAffinity, 1);
  PutDword(kCurrentEnforcedCount, 3);
  bool on = false;
  uint32_t number = 0;
  ASSERT_TRUE(store_.ReadFlag(kMethodCpuAffinity, on, false));
  ASSERT_TRUE(store_.ReadNumber(kCurrentEnforcedCount, number));

  PutDword(kMethodCpuAffinity, 0);
  PutDword(kCurrentEnforcedCount, 9);
  SettingsStore other(HKEY_CURRENT_USER);
  EXPECT_TRUE(other.WriteValue(kMethodCpuAffinity, 0)) << "another store's write refreshes nothing here";
  EXPECT_TRUE(store_.ReadFlag(kMethodCpuAffinity, on, false));
  EXPECT_TRUE(on);
  EXPECT_TRUE(store_.ReadNumber(kCurrentEnforcedCount, number));
  EXPECT_EQ(number, 3u);

  EXPECT_TRUE(store_.WriteValue(kCurrentEnforcedCount, 12));
  EXPECT_TRUE(store_.ReadNumber(kCurrentEnforcedCount, number));
  EXPECT_EQ(number, 12u);
  EXPECT_TRUE(store_.WriteFlag(kMethodCpuAffinity, true));
  PutDword(kMethodCpuAffinity, 0);
  EXPECT_TRUE(store_.ReadFlag(kMethodCpuAffinity, on, true));
  EXPECT_FALSE(on) << "a write drops the cached flag";
}

TEST_F(SettingsStoreTest, AnyNonzeroValueIsOnAndFlagsAreWrittenAsZeroOrOne) {
  PutDword(kMethodCpuSets, 7);
  bool on = false;
  EXPECT_TRUE(store_.ReadFlag(kMethodCpuSets, on, false));
  EXPECT_TRUE(on);
  DWORD stored = 0;
  ASSERT_TRUE(store_.WriteFlag(kMethodCpuSets, true));
  ASSERT_TRUE(Stored(kMethodCpuSets, stored));
  EXPECT_EQ(stored, 1u);
  ASSERT_TRUE(store_.WriteFlag(kMethodCpuSets, false));
  ASSERT_TRUE(Stored(kMethodCpuSets, stored));
  EXPECT_EQ(stored, 0u);
}

TEST_F(SettingsStoreTest, OtherTypesAreReadAsRawBytesUpToFourBytes) {
  const BYTE twoBytes[] = {0x07, 0x00};
  Put(HKEY_CURRENT_USER, kMethodCpuSets, REG_SZ, twoBytes, sizeof(twoBytes));
  uint32_t raw = 0;
  EXPECT_TRUE(store_.ReadValue(kMethodCpuSets, raw));
  EXPECT_EQ(raw, 7u);

  const wchar_t longer[] = L"enabled";
  Put(HKEY_CURRENT_USER, kMethodEfficiencyMode, REG_SZ, longer, sizeof(longer));
  bool on = false;
  EXPECT_FALSE(store_.ReadFlag(kMethodEfficiencyMode, on, true));
  EXPECT_TRUE(on) << "the default applies";
  EXPECT_FALSE(store_.ReadValue(kMethodEfficiencyMode, raw));
  EXPECT_EQ(raw, 0u);
}

TEST_F(SettingsStoreTest, StatisticsKeepAllThirtyTwoBits) {
  EXPECT_EQ(ReadStatistic(kLastScannedCount), 0u);
  EXPECT_EQ(WriteStatistic(kLastScannedCount, 0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(ReadStatistic(kLastScannedCount), 0xFFFFFFFFu);
  EXPECT_EQ(WriteStatistic(kLastScannedCount, 17), 17u);
  EXPECT_EQ(ReadStatistic(kLastScannedCount), 17u);
}

TEST_F(SettingsStoreTest, BetaUpdatesIsOnWhenEitherRootSaysSo) {
  EXPECT_FALSE(GetBetaUpdates());
  PutDword(kBetaUpdates, 1, HKEY_LOCAL_MACHINE);
  EXPECT_TRUE(GetBetaUpdates()) << "absent for the user, on for the machine";
  PutDword(kBetaUpdates, 0);
  EXPECT_TRUE(GetBetaUpdates()) << "off for the user does not override the machine";
  PutDword(kBetaUpdates, 0, HKEY_LOCAL_MACHINE);
  PutDword(kBetaUpdates, 1);
  EXPECT_TRUE(GetBetaUpdates());
}

TEST_F(SettingsStoreTest, SetBetaUpdatesWritesBothRoots) {
  SetBetaUpdates(true);
  DWORD user = 0, machine = 0;
  ASSERT_TRUE(Stored(kBetaUpdates, user));
  ASSERT_TRUE(Stored(kBetaUpdates, machine, HKEY_LOCAL_MACHINE));
  EXPECT_EQ(user, 1u);
  EXPECT_EQ(machine, 1u);
  SetBetaUpdates(!GetBetaUpdates());
  EXPECT_FALSE(GetBetaUpdates());
}

TEST_F(SettingsStoreTest, OneStoreIsSafeToShareBetweenThreads) {
  // The user-interface thread toggles a method while the worker reads them all.
  std::thread worker([this] {
    for (int pass = 0; pass < 300; ++pass) {
      bool on = false;
      store_.ReadFlag(kMethodEfficiencyMode, on, true);
      store_.ReadFlag(kMethodCpuAffinity, on, false);
      store_.ReadFlag(kMethodCpuSets, on, false);
    }
  });
  for (int toggle = 0; toggle < 300; ++toggle) {
    bool on = false;
    store_.ReadFlag(kMethodCpuSets, on, false);
    store_.WriteFlag(kMethodCpuSets, !on);
    store_.Invalidate(kMethodCpuSets);
  }
  worker.join();
  DWORD stored = 1;
  ASSERT_TRUE(Stored(kMethodCpuSets, stored));
  EXPECT_EQ(stored, 0u) << "an even number of toggles";
}

}  // namespace
}  // namespace tarnwick
