// The process-wide paths that start-up makes.
#include "app/globals.h"
#include "tests/fakes/fake_limited_token.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

// Only with the rights of the user's ordinary programs, when the process
// runs elevated: a junction planted in the profile could lead an elevated
// create elsewhere.
TEST(ListFilePath, FoldersAreCreatedBelowTheApplicationDataFolderWithTheLimitedRights) {
  wchar_t temp[MAX_PATH + 1] = {};
  ASSERT_NE(::GetTempPathW(MAX_PATH + 1, temp), 0u);
  const std::wstring base = std::wstring(temp) + L"tarnwick-list-path-test";
  const std::wstring config = base + L"\\Tarnwick\\config";
  EXPECT_EQ(MakeListFilePath(base, fake_limited_token::Unavailable), config + L"\\p-core-list.txt");
  EXPECT_EQ(::GetFileAttributesW(base.c_str()), INVALID_FILE_ATTRIBUTES) << "created without the limited rights";
  fake_limited_token::ImpersonableCalls = 0;
  EXPECT_EQ(MakeListFilePath(base, fake_limited_token::Impersonable), config + L"\\p-core-list.txt");
  EXPECT_EQ(fake_limited_token::ImpersonableCalls, 1);
  const DWORD attributes = ::GetFileAttributesW(config.c_str());
  EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  ::RemoveDirectoryW(config.c_str());
  ::RemoveDirectoryW((base + L"\\Tarnwick").c_str());
  ::RemoveDirectoryW(base.c_str());
}

TEST(ListFilePath, GlobalPathLiesInRoamingAppData) {
  wchar_t appData[MAX_PATH] = {};
  ASSERT_NE(::GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH), 0u);
  EXPECT_EQ(ListFilePath, std::wstring(appData) + L"\\Tarnwick\\config\\p-core-list.txt");
}

}  // namespace
}  // namespace tarnwick
