// Stand-ins for the source of a LimitedRightsScope's token, so that a test
// can run the elevated case on any machine, make it fail, and see that the
// token was asked for.
#pragma once

#include "platform/limited_rights.h"

#include <atomic>

namespace tarnwick::fake_limited_token {

// The reason Unavailable gives.
inline constexpr DWORD kUnavailableError = ERROR_PRIVILEGE_NOT_HELD;

// How many times Impersonable was asked, on any thread.
inline std::atomic<int> ImpersonableCalls{0};

// Elevated, and no limited token could be made.
[[nodiscard]] LimitedToken Unavailable();
// Elevated, with a token that no thread can be given (it lacks
// TOKEN_IMPERSONATE): the scope's own SetThreadToken fails.
[[nodiscard]] LimitedToken NotImpersonable();
// Elevated, with an impersonation copy of this process's token: a thread
// inside the scope is seen impersonating, whatever the machine's UAC state.
[[nodiscard]] LimitedToken Impersonable();

}  // namespace tarnwick::fake_limited_token
