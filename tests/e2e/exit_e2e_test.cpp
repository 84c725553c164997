// The end of the program, as a user meets it: "--close", and a close event
// left set by an instance that is still ending, end every instance within
// seconds, whatever its list holds.
#include "tests/e2e/driver/tarnwick_driver.h"
#include "platform/unique_handle.h"

#include <gmock/gmock.h>

#include <string>

namespace tarnwick::e2e {
namespace {

constexpr const wchar_t* kCloseEventName = L"Global\\{f372ebd9-2e97-4246-87b2-febe6486ee32}";
constexpr const wchar_t* kSettingsKey = L"Software\\Tarnwick";

class ShellExit : public TarnwickTest {
 protected:
  void SetUp() override {
    TarnwickTest::SetUp();
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
  }
  void TearDown() override {
    TarnwickTest::TearDown();
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
    ::DeleteFileW(ListFilePath().c_str());
  }
  std::optional<DWORD> LastScannedCount() {
    return ReadRegistryDword(HKEY_CURRENT_USER, kSettingsKey, L"LastScannedCount");
  }
};

TEST_F(ShellExit, StartsAndClosesInTurnLeaveNoInstanceRunning) {
  // The shell's own matcher backtracks for minutes per name on this pattern.
  WriteListFile({std::wstring(16, L'*') + L"z", L"notepad.exe"});
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
    TarnwickProcess& instance = StartInstance();
    ASSERT_TRUE(WaitUntil([&] { return LastScannedCount().has_value(); })) << "the first pass never ended";
    const RunResult close = Run({L"--close"});
    ASSERT_TRUE(close.exited);
    EXPECT_EQ(close.exit_code, 0u);
    // Success was reported: the instance is gone or in its last moments.
    ASSERT_TRUE(instance.WaitForExit(5s));
    EXPECT_EQ(instance.ExitCode(), 0u);
  }

  // An instance that is still ending keeps the close event alive and set, as
  // this handle does: a start meanwhile ends at once, without starting a
  // worker whose pass its exit would have to wait for.
  DeleteRegistryTree(HKEY_CURRENT_USER, kSettingsKey);
  unique_handle left_set(::CreateEventW(nullptr, TRUE, TRUE, kCloseEventName));
  ASSERT_TRUE(left_set);
  for (int start = 0; start < 8; ++start) {
    TarnwickProcess& instance = Start();
    ASSERT_TRUE(instance.WaitForExit()) << "start " << start;
    EXPECT_EQ(instance.ExitCode(), 0u);
  }
  EXPECT_FALSE(LastScannedCount().has_value()) << "an instance told to quit ran a pass";
}

}  // namespace
}  // namespace tarnwick::e2e
