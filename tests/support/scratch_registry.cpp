#include "tests/support/scratch_registry.h"

#include "platform/unique_handle.h"

#include <windows.h>

#include <string>

namespace tarnwick::testing_support {
namespace {

// Not volatile: the program's keys below them must be able to persist. A test
// program that dies leaves its scratch key, never a change to the user's settings.
constexpr const wchar_t* kScratchParent = L"Software\\Tarnwick test scratch";

std::wstring ScratchPath(const wchar_t* rootName) {
  return std::wstring(kScratchParent) + L"\\" + std::to_wstring(::GetCurrentProcessId()) + L"\\" + rootName;
}

// The user's own key, whatever HKEY_CURRENT_USER leads to in this process.
unique_hkey RealCurrentUser() {
  unique_hkey key;
  if (::RegOpenCurrentUser(KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return {};
  return key;
}

unique_hkey CreateScratchKey(const wchar_t* rootName) {
  const unique_hkey user = RealCurrentUser();
  unique_hkey key;
  if (!user || ::RegCreateKeyExW(user.get(), ScratchPath(rootName).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    return {};
  }
  return key;
}

void DeleteScratchKey(const std::wstring& path) {
  const unique_hkey user = RealCurrentUser();
  if (!user) return;
  ::RegDeleteTreeW(user.get(), path.c_str());
  ::RegDeleteKeyW(user.get(), path.c_str());
}

}  // namespace

bool RunningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void ScratchRegistry::SetUp() {
  const unique_hkey currentUser = CreateScratchKey(L"HKCU");
  ASSERT_TRUE(currentUser) << "no scratch registry key";
  // The override keeps a handle of its own.
  ASSERT_EQ(::RegOverridePredefKey(HKEY_CURRENT_USER, currentUser.get()), ERROR_SUCCESS);
}

void ScratchRegistry::TearDown() {
  ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  const std::wstring own = std::wstring(kScratchParent) + L"\\" + std::to_wstring(::GetCurrentProcessId());
  DeleteScratchKey(own);
  // Gone once the last test program running at the same time is done.
  ::RegDeleteKeyW(HKEY_CURRENT_USER, kScratchParent);
}

ScopedScratchLocalMachine::ScopedScratchLocalMachine() {
  const unique_hkey localMachine = CreateScratchKey(L"HKLM");
  EXPECT_TRUE(localMachine) << "no scratch registry key";
  if (localMachine) ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, localMachine.get());
}

ScopedScratchLocalMachine::~ScopedScratchLocalMachine() {
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  DeleteScratchKey(ScratchPath(L"HKLM"));
}

}  // namespace tarnwick::testing_support
