#include "install/program_protection.h"

#include "platform/unique_handle.h"

#include <aclapi.h>

#include <array>
#include <cstddef>

namespace tarnwick {
namespace {

// NT SERVICE\TrustedInstaller: its SID is derived from the service name, not
// one of the well-known types.
constexpr std::array<DWORD, 6> kTrustedInstallerSubAuthorities = {80,         956008885,  3418522649,
                                                                  1831038044, 1853292631, 2271478464};

bool IsTrustedInstaller(PSID sid) {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  unique_sid trustedInstaller;
  const auto& sub = kTrustedInstallerSubAuthorities;
  if (!::AllocateAndInitializeSid(&ntAuthority, static_cast<BYTE>(sub.size()), sub[0], sub[1], sub[2], sub[3], sub[4],
                                  sub[5], 0, 0, trustedInstaller.put())) {
    return false;
  }
  return ::EqualSid(sid, trustedInstaller.get()) != FALSE;
}

// The SID of an allow entry of the plain or callback kind (both keep the SID
// right after the mask), when it lies wholly inside the entry.
PSID AllowedEntrySid(const ACE_HEADER* header) {
  constexpr size_t kSidOffset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
  if (header->AceSize < kSidOffset + offsetof(SID, SubAuthority)) return nullptr;
  auto* sid = reinterpret_cast<SID*>(reinterpret_cast<BYTE*>(const_cast<ACE_HEADER*>(header)) + kSidOffset);
  if (header->AceSize < kSidOffset + offsetof(SID, SubAuthority) + sid->SubAuthorityCount * sizeof(DWORD)) {
    return nullptr;
  }
  return ::IsValidSid(sid) ? sid : nullptr;
}

bool IsAllowEntry(BYTE type) {
  return type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
         type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE ||
         type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE;
}

bool ObjectCanBeChangedByOthers(const std::wstring& path, DWORD rights) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  unique_hlocal descriptor;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr,
                              reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS) {
    return true;
  }
  return OthersCanChange(owner, dacl, rights);
}

size_t RootLength(const std::wstring& path) {
  std::wstring_view rest(path);
  size_t prefix = 0;
  if (rest.starts_with(L"\\\\?\\UNC\\")) {
    prefix = 8;
  } else if (rest.starts_with(L"\\\\?\\")) {
    prefix = 4;
  } else if (rest.starts_with(L"\\\\")) {
    prefix = 2;
  }
  if (prefix != 2 && prefix != 8) {
    // A drive: "C:\".
    if (path.size() < prefix + 3 || path[prefix + 1] != L':' || path[prefix + 2] != L'\\') return 0;
    return prefix + 3;
  }
  // A share: "\\server\share", the root of what the server lets us see.
  const size_t serverEnd = path.find(L'\\', prefix);
  if (serverEnd == std::wstring::npos || serverEnd == prefix) return 0;
  const size_t shareEnd = path.find(L'\\', serverEnd + 1);
  if (shareEnd == std::wstring::npos || shareEnd == serverEnd + 1) return 0;
  return shareEnd;
}

}  // namespace

bool IsTrustedChanger(PSID sid) {
  if (sid == nullptr || !::IsValidSid(sid)) return false;
  return ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(sid, WinLocalSystemSid) ||
         IsTrustedInstaller(sid);
}

bool OthersCanChange(PSID owner, const ACL* dacl, DWORD rights) {
  if (!IsTrustedChanger(owner) || dacl == nullptr) return true;
  auto* acl = const_cast<ACL*>(dacl);
  ACL_SIZE_INFORMATION size{};
  if (!::GetAclInformation(acl, &size, sizeof(size), AclSizeInformation)) return true;
  for (DWORD index = 0; index < size.AceCount; ++index) {
    void* entry = nullptr;
    if (!::GetAce(acl, index, &entry)) return true;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    // Deny entries are not counted on: the allow-list alone must hold.
    if (!IsAllowEntry(header->AceType) || (header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    if (header->AceSize < offsetof(ACCESS_ALLOWED_ACE, SidStart)) return true;
    const ACCESS_MASK mask = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask;
    if ((mask & rights) == 0) continue;
    // Object entries place their SID after optional GUIDs: whoever they name
    // is treated as untrusted.
    const bool plain =
        header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    const PSID holder = plain ? AllowedEntrySid(header) : nullptr;
    if (!IsTrustedChanger(holder)) return true;
  }
  return false;
}

std::vector<std::wstring> ContainingFolders(const std::wstring& path) {
  std::vector<std::wstring> folders;
  const size_t root = RootLength(path);
  if (root == 0) return folders;
  std::wstring current = path;
  while (current.size() > root) {
    size_t separator = current.find_last_of(L'\\');
    if (separator == std::wstring::npos || separator + 1 < root) break;
    // A drive's root keeps its backslash; a share's root has none.
    current.resize(separator + 1 == root ? root : separator);
    if (!current.empty() && current.back() == L'\\' && current.size() > root) current.pop_back();
    folders.push_back(current);
  }
  return folders;
}

bool OthersCanReplaceProgram(const std::wstring& programPath, const ObjectChangeCheck& othersCanChange) {
  const std::vector<std::wstring> folders = ContainingFolders(programPath);
  if (folders.empty()) return true;
  if (othersCanChange(programPath, kFileReplaceRights)) return true;
  for (const std::wstring& folder : folders) {
    if (othersCanChange(folder, kFolderReplaceRights)) return true;
  }
  return false;
}

bool OthersCanReplaceProgram(const std::wstring& programPath) {
  return OthersCanReplaceProgram(programPath, ObjectCanBeChangedByOthers);
}

}  // namespace tarnwick
