#include "platform/limited_rights.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace tarnwick {
namespace {

constexpr DWORD kImpersonationAccess = TOKEN_IMPERSONATE | TOKEN_QUERY;

DWORD LastErrorOr(DWORD fallback) {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

// A variable-length token record, in storage aligned for its pointers; empty
// when it cannot be read.
std::vector<std::max_align_t> TokenRecord(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  ::GetTokenInformation(token, kind, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<std::max_align_t> record((size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
  if (!::GetTokenInformation(token, kind, record.data(), size, &size)) return {};
  return record;
}

template <typename T>
const T* As(const std::vector<std::max_align_t>& record) {
  return record.empty() ? nullptr : reinterpret_cast<const T*>(record.data());
}

// A primary token, or an impersonation token at impersonation level or above:
// one a thread can act with, not only be identified by.
bool CanActWith(HANDLE token) {
  TOKEN_TYPE type{};
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenType, &type, sizeof(type), &size)) return false;
  if (type == TokenPrimary) return true;
  SECURITY_IMPERSONATION_LEVEL level{};
  return ::GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof(level), &size) &&
         level >= SecurityImpersonation;
}

bool HoldsEnabled(const TOKEN_GROUPS& groups, PSID sid) {
  for (DWORD i = 0; i < groups.GroupCount; ++i) {
    const DWORD attributes = groups.Groups[i].Attributes;
    if (::EqualSid(groups.Groups[i].Sid, sid)) {
      return (attributes & SE_GROUP_ENABLED) != 0 && (attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0;
    }
  }
  return false;
}

unique_handle ImpersonationCopy(HANDLE token, DWORD& error) {
  unique_handle copy;
  if (!::DuplicateTokenEx(token, kImpersonationAccess, nullptr, SecurityImpersonation, TokenImpersonation,
                          copy.put())) {
    error = LastErrorOr(ERROR_BAD_IMPERSONATION_LEVEL);
    return {};
  }
  return copy;
}

}  // namespace

unique_handle MakeLimitedImpersonationToken(HANDLE own, HANDLE linked, DWORD& error) {
  error = ERROR_SUCCESS;
  if (CanActWith(linked)) return ImpersonationCopy(linked, error);

  const auto ownGroups = TokenRecord(own, TokenGroups);
  const auto linkedGroups = TokenRecord(linked, TokenGroups);
  const auto linkedLabel = TokenRecord(linked, TokenIntegrityLevel);
  const auto user = TokenRecord(own, TokenUser);
  if (ownGroups.empty() || linkedGroups.empty() || linkedLabel.empty() || user.empty()) {
    error = LastErrorOr(ERROR_ACCESS_DENIED);
    return {};
  }
  // The groups that UAC filtered out of the limited token (Administrators and
  // its kin) still deny, but no longer grant. The integrity label is no group
  // to disable.
  std::vector<SID_AND_ATTRIBUTES> toDisable;
  const TOKEN_GROUPS& groups = *As<TOKEN_GROUPS>(ownGroups);
  for (DWORD i = 0; i < groups.GroupCount; ++i) {
    const SID_AND_ATTRIBUTES& group = groups.Groups[i];
    if ((group.Attributes & (SE_GROUP_INTEGRITY | SE_GROUP_USE_FOR_DENY_ONLY)) != 0) continue;
    if (!HoldsEnabled(*As<TOKEN_GROUPS>(linkedGroups), group.Sid)) toDisable.push_back({group.Sid, 0});
  }
  // Every privilege but the one that lets a path cross folders the user
  // cannot list. Named one by one: Wine 8 ignores DISABLE_MAX_PRIVILEGE.
  const auto ownPrivileges = TokenRecord(own, TokenPrivileges);
  LUID changeNotify{};
  if (ownPrivileges.empty() || !::LookupPrivilegeValueW(nullptr, SE_CHANGE_NOTIFY_NAME, &changeNotify)) {
    error = LastErrorOr(ERROR_ACCESS_DENIED);
    return {};
  }
  std::vector<LUID_AND_ATTRIBUTES> toDelete;
  const TOKEN_PRIVILEGES& privileges = *As<TOKEN_PRIVILEGES>(ownPrivileges);
  for (DWORD i = 0; i < privileges.PrivilegeCount; ++i) {
    const LUID& luid = privileges.Privileges[i].Luid;
    if (luid.LowPart != changeNotify.LowPart || luid.HighPart != changeNotify.HighPart) {
      toDelete.push_back({luid, 0});
    }
  }
  unique_handle restricted;
  if (!::CreateRestrictedToken(own, 0, static_cast<DWORD>(toDisable.size()),
                               toDisable.empty() ? nullptr : toDisable.data(), static_cast<DWORD>(toDelete.size()),
                               toDelete.empty() ? nullptr : toDelete.data(), 0, nullptr, restricted.put())) {
    error = LastErrorOr(ERROR_ACCESS_DENIED);
    return {};
  }
  // Lowering the level needs no privilege. Without it the token would still
  // write where only high-integrity programs may.
  TOKEN_MANDATORY_LABEL label = *As<TOKEN_MANDATORY_LABEL>(linkedLabel);
  if (!::SetTokenInformation(restricted.get(), TokenIntegrityLevel, &label,
                             sizeof(label) + ::GetLengthSid(label.Label.Sid))) {
    error = LastErrorOr(ERROR_ACCESS_DENIED);
    return {};
  }
  // New files belong to the user, as an ordinary program's do, not to the
  // Administrators group that is now for denying only. Best effort: Wine 8
  // does not implement it, and the files' access comes from the entries
  // their folder passes on either way.
  TOKEN_OWNER owner{As<TOKEN_USER>(user)->User.Sid};
  ::SetTokenInformation(restricted.get(), TokenOwner, &owner, sizeof(owner));
  return ImpersonationCopy(restricted.get(), error);
}

LimitedToken LimitedTokenOfProcess() {
  LimitedToken result;
  auto unavailable = [&result]() {
    result.needed = true;
    result.error = LastErrorOr(ERROR_ACCESS_DENIED);
    return std::move(result);
  };
  unique_handle own;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, own.put())) return unavailable();
  TOKEN_ELEVATION_TYPE elevation{};
  DWORD size = 0;
  if (!::GetTokenInformation(own.get(), TokenElevationType, &elevation, sizeof(elevation), &size)) {
    return unavailable();
  }
  if (elevation != TokenElevationTypeFull) return result;
  TOKEN_LINKED_TOKEN linked{};
  if (!::GetTokenInformation(own.get(), TokenLinkedToken, &linked, sizeof(linked), &size)) return unavailable();
  const unique_handle linkedToken(linked.LinkedToken);
  result.needed = true;
  result.token = MakeLimitedImpersonationToken(own.get(), linkedToken.get(), result.error);
  return result;
}

LimitedRightsScope::LimitedRightsScope(LimitedTokenSource source) {
  const LimitedToken limited = source != nullptr ? source() : LimitedTokenOfProcess();
  if (!limited.needed) return;
  if (!limited.token) {
    error_ = limited.error != ERROR_SUCCESS ? limited.error : ERROR_ACCESS_DENIED;
    return;
  }
  // A thread that already impersonates gets its token back at the end; one
  // whose token cannot be kept is not touched.
  if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, previous_.put()) &&
      ::GetLastError() != ERROR_NO_TOKEN) {
    error_ = LastErrorOr(ERROR_ACCESS_DENIED);
    return;
  }
  if (!::SetThreadToken(nullptr, limited.token.get())) {
    error_ = LastErrorOr(ERROR_ACCESS_DENIED);
    return;
  }
  impersonating_ = true;
}

LimitedRightsScope::~LimitedRightsScope() {
  if (!impersonating_) return;
  const DWORD lastError = ::GetLastError();
  // Setting a token the thread held before cannot fail for want of rights;
  // should it fail all the same, the thread is left with its own, never the
  // limited one.
  if (!::SetThreadToken(nullptr, previous_.get())) ::RevertToSelf();
  ::SetLastError(lastError);
}

}  // namespace tarnwick
