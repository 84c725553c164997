#include "install/program_protection.h"

#include "platform/unique_handle.h"

#include <aclapi.h>

#include <array>

namespace tarnwick {
namespace {

bool IsUsersGroup(PSID sid) {
  constexpr std::array kGroups = {WinBuiltinUsersSid, WinAuthenticatedUserSid, WinWorldSid, WinInteractiveSid};
  for (const WELL_KNOWN_SID_TYPE group : kGroups) {
    BYTE group_sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(group_sid);
    if (::CreateWellKnownSid(group, nullptr, group_sid, &size) && ::EqualSid(sid, group_sid)) return true;
  }
  return false;
}

bool ObjectGrantsUsers(const std::wstring& path, DWORD rights) {
  PACL dacl = nullptr;
  unique_hlocal descriptor;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS) {
    return true;
  }
  return DaclGrantsUsers(dacl, rights);
}

}  // namespace

bool DaclGrantsUsers(const ACL* dacl, DWORD rights) {
  if (dacl == nullptr) return true;
  ACL_SIZE_INFORMATION size{};
  if (!::GetAclInformation(const_cast<ACL*>(dacl), &size, sizeof(size), AclSizeInformation)) return true;
  for (DWORD index = 0; index < size.AceCount; ++index) {
    void* entry = nullptr;
    if (!::GetAce(const_cast<ACL*>(dacl), index, &entry)) return true;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & rights) != 0 && IsUsersGroup(&allowed->SidStart)) return true;
  }
  return false;
}

bool UsersCanReplaceProgram(const std::wstring& program_path) {
  const size_t separator = program_path.find_last_of(L"\\/");
  if (separator == std::wstring::npos || separator == 0) return true;
  std::wstring folder = program_path.substr(0, separator);
  if (folder.back() == L':') folder += L'\\';
  return ObjectGrantsUsers(program_path, kFileReplaceRights) || ObjectGrantsUsers(folder, kFolderReplaceRights);
}

}  // namespace tarnwick
