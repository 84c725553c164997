#include "tests/fakes/fake_limited_token.h"

namespace tarnwick::fake_limited_token {
namespace {

LimitedToken CopyOfProcessToken(DWORD access) {
  LimitedToken limited;
  limited.needed = true;
  unique_handle own;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, own.put()) ||
      !::DuplicateTokenEx(own.get(), access, nullptr, SecurityImpersonation, TokenImpersonation, limited.token.put())) {
    limited.error = ::GetLastError();
  }
  return limited;
}

}  // namespace

LimitedToken Unavailable() {
  LimitedToken limited;
  limited.needed = true;
  limited.error = kUnavailableError;
  return limited;
}

LimitedToken NotImpersonable() { return CopyOfProcessToken(TOKEN_QUERY); }

LimitedToken Impersonable() {
  ++ImpersonableCalls;
  return CopyOfProcessToken(TOKEN_IMPERSONATE | TOKEN_QUERY);
}

}  // namespace tarnwick::fake_limited_token
