#include "tests/support/scratch_registry.h"

#include "platform/unique_handle.h"

#include <windows.h>

#include <string>

namespace tarnwick::testing_support {
namespace {

// Not volatile: the program's keys below them must be able to persist. A test
// program that dies leaves its scratch key, never a change to the user's settings.
constexpr const wchar_t* kScratchParent = L"Software\\Tarnwick test scratch";

std::wstring ScratchPath(const wchar_t* root_name) {
  return std::wstring(kScratchParent) + L"\\" + std::to_wstring(::GetCurrentProcessId()) + L"\\" + root_name;
}

// The user's own key, whatever HKEY_CURRENT_USER leads to in this process.
unique_hkey RealCurrentUser() {
  unique_hkey key;
  if (::RegOpenCurrentUser(KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return {};
  return key;
}

unique_hkey CreateScratchKey(const wchar_t* root_name) {
  const unique_hkey user = RealCurrentUser();
  unique_hkey key;
  if (!user || ::RegCreateKeyExW(user.get(), ScratchPath(root_name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
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
  const unique_hkey current_user = CreateScratchKey(L"HKCU");
  ASSERT_TRUE(current_user) << "no scratch registry key";
  // The override keeps a handle of its own.
  ASSERT_EQ(::RegOverridePredefKey(HKEY_CURRENT_USER, current_user.get()), ERROR_SUCCESS);
}

void ScratchRegistry::TearDown() {
  ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  const std::wstring own = std::wstring(kScratchParent) + L"\\" + std::to_wstring(::GetCurrentProcessId());
  DeleteScratchKey(own);
  // Gone once the last test program running at the same time is done.
  ::RegDeleteKeyW(HKEY_CURRENT_USER, kScratchParent);
}

ScopedScratchLocalMachine::ScopedScratchLocalMachine() {
  const unique_hkey local_machine = CreateScratchKey(L"HKLM");
  EXPECT_TRUE(local_machine) << "no scratch registry key";
  if (local_machine) ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, local_machine.get());
}

ScopedScratchLocalMachine::~ScopedScratchLocalMachine() {
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  DeleteScratchKey(ScratchPath(L"HKLM"));
}

}  // namespace tarnwick::testing_support
