// Tests never touch the settings of the user who runs them: while a test
// program runs, HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE of its process lead
// to empty scratch keys (RegOverridePredefKey), which go with the program.
#pragma once

#include <gtest/gtest.h>

namespace tarnwick::testing_support {

// Whether this process runs under Wine (then each test program already has a
// prefix of its own).
[[nodiscard]] bool RunningUnderWine();

// The global test environment that redirects both keys for the program's run.
class ScratchRegistry : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace tarnwick::testing_support
