// The entry point of every unit test program: GoogleTest and GoogleMock, with
// the registry of the user running the tests out of reach.
#include "tests/support/scratch_registry.h"

#include <gmock/gmock.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new tarnwick::testing_support::ScratchRegistry);
  return RUN_ALL_TESTS();
}
