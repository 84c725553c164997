// Tests never touch the settings of the user who runs them: while a test
// program runs, HKEY_CURRENT_USER of its process leads to an empty scratch key
// (RegOverridePredefKey), which goes with the program. Tests of the machine
// setting redirect HKEY_LOCAL_MACHINE too, only while they run: the system's
// own libraries (signature checks, COM) read the real one.
#pragma once

#include <gtest/gtest.h>

namespace tarnwick::testing_support {

// Whether this process runs under Wine (then each test program already has a
// prefix of its own).
[[nodiscard]] bool RunningUnderWine();

// The global test environment that redirects HKEY_CURRENT_USER for the program's run.
class ScratchRegistry : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
};

// Redirects HKEY_LOCAL_MACHINE to an empty scratch key while it lives.
class ScopedScratchLocalMachine {
 public:
  ScopedScratchLocalMachine();
  ~ScopedScratchLocalMachine();
  ScopedScratchLocalMachine(const ScopedScratchLocalMachine&) = delete;
  ScopedScratchLocalMachine& operator=(const ScopedScratchLocalMachine&) = delete;
};

}  // namespace tarnwick::testing_support
