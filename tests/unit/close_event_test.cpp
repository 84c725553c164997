#include "app/close_event.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

namespace tarnwick {
namespace {

// A name of this test's own, so that no running instance is disturbed.
std::wstring TestEventName() {
  const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  return L"Local\\tarnwick-close-event-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
         std::wstring(test.begin(), test.end());
}

// The rights the event's access list grants to the well-known group `sidText`.
ACCESS_MASK AllowedFor(HANDLE event, const wchar_t* sidText) {
  unique_handle readable;
  if (!::DuplicateHandle(::GetCurrentProcess(), event, ::GetCurrentProcess(), readable.put(), READ_CONTROL, FALSE, 0)) {
    return 0;
  }
  PACL dacl = nullptr;
  unique_hlocal descriptor;
  if (::GetSecurityInfo(readable.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                        reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS ||
      dacl == nullptr) {
    return 0;
  }
  unique_hlocal sid;
  if (!::ConvertStringSidToSidW(sidText, reinterpret_cast<PSID*>(sid.put()))) return 0;
  ACCESS_MASK allowed = 0;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!::GetAce(dacl, index, &ace)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    const auto* allowedAce = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if (::EqualSid(const_cast<DWORD*>(&allowedAce->SidStart), sid.get())) allowed |= allowedAce->Mask;
  }
  return allowed;
}

TEST(CloseRequestEvent, EveryInteractiveUserMayWaitOnItAndSetIt) {
  const std::wstring name = TestEventName();
  unique_handle first = CreateCloseRequestEvent(name.c_str());
  ASSERT_TRUE(first);
  EXPECT_EQ(AllowedFor(first.get(), L"IU") & kCloseEventAccess, kCloseEventAccess);

  // A second instance gets the same event, manual reset and not set.
  unique_handle second = CreateCloseRequestEvent(name.c_str());
  ASSERT_TRUE(second);
  EXPECT_EQ(::WaitForSingleObject(second.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  unique_handle closer(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
  ASSERT_TRUE(closer) << "\"--close\" opens it to set it";
  ASSERT_TRUE(::SetEvent(closer.get()));
  EXPECT_EQ(::WaitForSingleObject(first.get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(::WaitForSingleObject(second.get(), 0), WAIT_OBJECT_0) << "stays set";
}

TEST(CloseRequestEvent, AnEventThatDeniesUsGivesNoHandle) {
  const std::wstring name = TestEventName();
  // Another user's event with an empty access list: nobody may open it.
  unique_hlocal descriptor;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:", SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr));
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
  unique_handle foreign(::CreateEventW(&attributes, TRUE, FALSE, name.c_str()));
  ASSERT_TRUE(foreign);
  EXPECT_FALSE(CreateCloseRequestEvent(name.c_str()));
}

}  // namespace
}  // namespace tarnwick
