// The window thread's set-up before its first window.
#include "app/startup.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <thread>

namespace tarnwick {
namespace {

// The shell's calls need their caller in a single-threaded apartment: once
// set up, the thread is one, and a later request for another kind is refused.
TEST(WindowThread, IsASingleThreadedApartmentFromItsSetUpOn) {
  HRESULT otherKind = S_OK;
  APTTYPE type = APTTYPE_MTA;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  HRESULT asked = E_FAIL;
  // A thread of its own: the test's main thread may have COM already.
  std::thread([&] {
    const WindowThreadSetUp setUp;
    asked = ::CoGetApartmentType(&type, &qualifier);
    otherKind = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(otherKind)) ::CoUninitialize();
  }).join();
  ASSERT_EQ(asked, S_OK);
  EXPECT_TRUE(type == APTTYPE_STA || type == APTTYPE_MAINSTA) << type;
  EXPECT_EQ(otherKind, RPC_E_CHANGED_MODE);
}

}  // namespace
}  // namespace tarnwick
