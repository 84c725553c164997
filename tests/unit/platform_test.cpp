#include "platform/unique_handle.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(UniqueHandle, ClosesOnResetAndHandsOverOnMove) {
  unique_handle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event);
  HANDLE raw = event.get();
  unique_handle moved(std::move(event));
  EXPECT_FALSE(event);
  EXPECT_EQ(moved.get(), raw);
  moved.reset();
  DWORD flags = 0;
  EXPECT_FALSE(::GetHandleInformation(raw, &flags)) << "the handle should be closed";
}

TEST(UniqueHandle, FileHandlesTreatInvalidHandleValueAsEmpty) {
  unique_hfile file(::CreateFileW(L"Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(file);
  EXPECT_EQ(file.get(), INVALID_HANDLE_VALUE);
}

}  // namespace
}  // namespace tarnwick
