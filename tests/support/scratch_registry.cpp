#include "tests/support/scratch_registry.h"

#include "platform/unique_handle.h"

#include <windows.h>

#include <string>

namespace tarnwick::testing_support {
namespace {

// Not volatile: the program's keys below them must be able to persist. A test
// program that dies leaves its scratch key, never a change to the user's settings.
constexpr const wchar_t* kScratchParent = L"Software\\Tarnwick test scratch";

std::wstring ScratchPath() { return std::wstring(kScratchParent) + L"\\" + std::to_wstring(::GetCurrentProcessId()); }

unique_hkey CreateScratchKey(const std::wstring& path) {
  unique_hkey key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS) {
    return {};
  }
  return key;
}

}  // namespace

bool RunningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void ScratchRegistry::SetUp() {
  // The scratch keys themselves live under the real HKEY_CURRENT_USER, made before the redirection.
  const unique_hkey current_user = CreateScratchKey(ScratchPath() + L"\\HKCU");
  const unique_hkey local_machine = CreateScratchKey(ScratchPath() + L"\\HKLM");
  ASSERT_TRUE(current_user && local_machine) << "no scratch registry keys";
  // The override keeps a handle of its own.
  ASSERT_EQ(::RegOverridePredefKey(HKEY_CURRENT_USER, current_user.get()), ERROR_SUCCESS);
  ASSERT_EQ(::RegOverridePredefKey(HKEY_LOCAL_MACHINE, local_machine.get()), ERROR_SUCCESS);
}

void ScratchRegistry::TearDown() {
  ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, ScratchPath().c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, ScratchPath().c_str());
  // Gone once the last test program running at the same time is done.
  ::RegDeleteKeyW(HKEY_CURRENT_USER, kScratchParent);
}

}  // namespace tarnwick::testing_support
