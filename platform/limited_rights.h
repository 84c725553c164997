// The rights of the user's ordinary programs for writes in the user's own
// folders. The logon task starts the program elevated, yet its list lives in
// the user's profile, where every program of the user can plant a junction or
// a link: an elevated create, rename or delete that follows one lands in a
// folder only administrators may write. Made with the limited rights, such a
// write can do no more than the planting program could do itself, while
// profiles that are junctioned or redirected elsewhere keep working.
#pragma once

#include "platform/unique_handle.h"

#include <windows.h>

namespace tarnwick {

// What the calling thread needs in order to write with the limited rights.
struct LimitedToken {
  // The process runs elevated (TokenElevationTypeFull) with a linked, limited
  // token: its writes in the user's folders must be made with that token's
  // rights. False without UAC, for a standard user and for the limited half.
  bool needed = false;
  // An impersonation token (TOKEN_IMPERSONATE | TOKEN_QUERY) with the limited
  // rights, owned by the caller; null when not needed or when none could be
  // made (`error` then says why).
  unique_handle token;
  DWORD error = ERROR_SUCCESS;
};

// The limited token of this process, made afresh on every call (no state is
// kept between threads). A token that cannot even be queried counts as
// needed and unavailable: no write is made with unknown rights.
[[nodiscard]] LimitedToken LimitedTokenOfProcess();

// An impersonation token with the rights of `linked` for a thread of the
// process whose token is `own` (both need TOKEN_QUERY, `own` also
// TOKEN_DUPLICATE; neither is taken over). A linked token that can be
// impersonated is duplicated. Windows gives a process without
// SeTcbPrivilege the linked token at identification level only, with which
// no file opens: the token is then made from `own`, with every group that
// `linked` does not hold enabled kept for denying only, no privilege but
// change notification, `linked`'s integrity level and the user as owner.
// Null with the system's reason in `error` on failure.
[[nodiscard]] unique_handle MakeLimitedImpersonationToken(HANDLE own, HANDLE linked, DWORD& error);

// Where a scope gets its token; null takes LimitedTokenOfProcess. A test
// replaces it to make the token unavailable or to record its use.
using LimitedTokenSource = LimitedToken (*)();

// While alive, the calling thread impersonates the limited token when the
// process needs one; the thread's previous token (or none) is back when the
// scope ends, whichever way it ends. Other threads are never touched. The
// thread's last-error value survives the scope's end.
class LimitedRightsScope {
 public:
  explicit LimitedRightsScope(LimitedTokenSource source = nullptr);
  ~LimitedRightsScope();
  LimitedRightsScope(const LimitedRightsScope&) = delete;
  LimitedRightsScope& operator=(const LimitedRightsScope&) = delete;

  // True when the thread may write: it runs with the limited rights, or the
  // process has no higher ones to give up. False when it runs elevated and
  // the limited rights could not be taken on: nothing may be written then.
  [[nodiscard]] bool Ok() const noexcept { return error_ == ERROR_SUCCESS; }
  // The system's reason when not ok().
  [[nodiscard]] DWORD Error() const noexcept { return error_; }

 private:
  unique_handle previous_;  // the thread's own impersonation token, if it had one
  bool impersonating_ = false;
  DWORD error_ = ERROR_SUCCESS;
};

}  // namespace tarnwick
