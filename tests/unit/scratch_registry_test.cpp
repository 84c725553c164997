// Every unit test program writes the registry only in its scratch keys, never
// in the settings of the user who runs the tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/unique_handle.h"
#include "tests/support/scratch_registry.h"

namespace tarnwick {
namespace {

bool KeyExists(HKEY root, const std::wstring& path) {
  unique_hkey key;
  return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

TEST(ScratchRegistry, TheUsersOwnKeysAreOutOfReach) {
  const std::wstring settings = L"Software\\Tarnwick scratch probe";
  DWORD one = 1;
  ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, settings.c_str(), L"Probe", REG_DWORD, &one, sizeof(one)),
            ERROR_SUCCESS);
  // The user's own key, reached without HKEY_CURRENT_USER.
  unique_hkey realUser;
  ASSERT_EQ(::RegOpenCurrentUser(KEY_READ, realUser.put()), ERROR_SUCCESS);
  const std::wstring scratch = L"Software\\Tarnwick test scratch\\" + std::to_wstring(::GetCurrentProcessId());
  EXPECT_FALSE(KeyExists(realUser.get(), settings)) << "the test wrote the user's own settings";
  EXPECT_TRUE(KeyExists(realUser.get(), scratch + L"\\HKCU\\" + settings));
  {
    testing_support::ScopedScratchLocalMachine machine;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"Software")) << "HKEY_LOCAL_MACHINE is an empty scratch key";
  }
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"Software")) << "and the real one again afterwards";
  ::RegDeleteKeyW(HKEY_CURRENT_USER, settings.c_str());
}

}  // namespace
}  // namespace tarnwick
