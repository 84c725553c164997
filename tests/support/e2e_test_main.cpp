// The entry point of every end-to-end test program. They start the real
// program, which uses the user's registry, list file and running instance,
// so they run only inside a Wine prefix of their own (tests/wine).
#include "tests/support/scratch_registry.h"

#include <gtest/gtest.h>

namespace {

class WinePrefixOnly : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!tarnwick::testing_support::RunningUnderWine()) {
      GTEST_SKIP() << "end-to-end tests run only inside a Wine prefix: they would use this user's Tarnwick";
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new WinePrefixOnly);
  return RUN_ALL_TESTS();
}
