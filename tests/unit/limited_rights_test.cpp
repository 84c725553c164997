#include "platform/limited_rights.h"

#include "tests/fakes/fake_limited_token.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

namespace tarnwick {
namespace {

// The token record of the given kind, in storage aligned for its pointers.
std::vector<std::max_align_t> Record(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  ::GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<std::max_align_t> record(size / sizeof(std::max_align_t) + 1);
  EXPECT_TRUE(::GetTokenInformation(token, kind, record.data(), size, &size)) << "kind " << kind;
  return record;
}

// What a test checks of a token that a thread acts with.
struct TokenFacts {
  TOKEN_TYPE type{};
  SECURITY_IMPERSONATION_LEVEL level{};
  LUID id{};
  int privileges = 0;  // besides the change notification that every token keeps
  DWORD integrity = 0;
  bool administratorsDenyOnly = false;
};

TokenFacts FactsOf(HANDLE token) {
  TokenFacts facts;
  DWORD size = 0;
  EXPECT_TRUE(::GetTokenInformation(token, TokenType, &facts.type, sizeof(facts.type), &size));
  if (facts.type == TokenImpersonation) {
    EXPECT_TRUE(::GetTokenInformation(token, TokenImpersonationLevel, &facts.level, sizeof(facts.level), &size));
  }
  TOKEN_STATISTICS statistics{};
  EXPECT_TRUE(::GetTokenInformation(token, TokenStatistics, &statistics, sizeof(statistics), &size));
  facts.id = statistics.TokenId;

  LUID changeNotify{};
  EXPECT_TRUE(::LookupPrivilegeValueW(nullptr, SE_CHANGE_NOTIFY_NAME, &changeNotify));
  const auto privileges = Record(token, TokenPrivileges);
  const auto& list = *reinterpret_cast<const TOKEN_PRIVILEGES*>(privileges.data());
  for (DWORD i = 0; i < list.PrivilegeCount; ++i) {
    const LUID& luid = list.Privileges[i].Luid;
    if (luid.LowPart != changeNotify.LowPart || luid.HighPart != changeNotify.HighPart) ++facts.privileges;
  }

  const auto label = Record(token, TokenIntegrityLevel);
  const PSID labelSid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
  facts.integrity = *::GetSidSubAuthority(labelSid, *::GetSidSubAuthorityCount(labelSid) - 1u);

  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof(administrators);
  EXPECT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize));
  const auto groupsRecord = Record(token, TokenGroups);
  const auto& groups = *reinterpret_cast<const TOKEN_GROUPS*>(groupsRecord.data());
  for (DWORD i = 0; i < groups.GroupCount; ++i) {
    if (::EqualSid(groups.Groups[i].Sid, administrators)) {
      facts.administratorsDenyOnly = (groups.Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0;
    }
  }
  return facts;
}

// The calling thread's impersonation token, if it has one.
std::optional<TokenFacts> ThreadToken() {
  unique_handle token;
  if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) {
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
    return std::nullopt;
  }
  return FactsOf(token.get());
}

unique_handle ProcessToken() {
  unique_handle token;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, token.put()));
  return token;
}

bool SameId(const LUID& a, const LUID& b) { return a.LowPart == b.LowPart && a.HighPart == b.HighPart; }

// Under Wine the process is always elevated with a linked token, so this
// runs the whole path as the logon task's start does on Windows.
TEST(LimitedRightsScope, TheThreadActsWithTheLimitedRightsOnlyInsideTheScope) {
  const unique_handle own = ProcessToken();
  TOKEN_ELEVATION_TYPE elevation{};
  DWORD size = 0;
  ASSERT_TRUE(::GetTokenInformation(own.get(), TokenElevationType, &elevation, sizeof(elevation), &size));
  if (elevation != TokenElevationTypeFull) GTEST_SKIP() << "not elevated: the scope has nothing to give up";
  TOKEN_LINKED_TOKEN linked{};
  ASSERT_TRUE(::GetTokenInformation(own.get(), TokenLinkedToken, &linked, sizeof(linked), &size));
  const unique_handle linkedToken(linked.LinkedToken);
  const DWORD limitedIntegrity = FactsOf(linkedToken.get()).integrity;

  ASSERT_FALSE(ThreadToken());
  {
    const LimitedRightsScope limited;
    ASSERT_TRUE(limited.Ok()) << limited.Error();
    const std::optional<TokenFacts> inside = ThreadToken();
    ASSERT_TRUE(inside) << "the thread does not impersonate inside the scope";
    EXPECT_EQ(inside->type, TokenImpersonation);
    EXPECT_EQ(inside->level, SecurityImpersonation) << "an identification token opens no file";
    EXPECT_EQ(inside->privileges, 0) << "the administrator's privileges are still held";
    EXPECT_EQ(inside->integrity, limitedIntegrity);
    std::optional<TokenFacts> otherThread;
    std::thread([&otherThread] { otherThread = ThreadToken(); }).join();
    EXPECT_FALSE(otherThread) << "another thread took on the token";
  }
  EXPECT_FALSE(ThreadToken()) << "the thread still impersonates after the scope";
}

TEST(LimitedRightsScope, AThreadThatAlreadyImpersonatesGetsItsOwnTokenBack) {
  ASSERT_TRUE(::ImpersonateSelf(SecurityImpersonation));
  const std::optional<TokenFacts> before = ThreadToken();
  ASSERT_TRUE(before);
  {
    const LimitedRightsScope limited(fake_limited_token::Impersonable);
    ASSERT_TRUE(limited.Ok());
    const std::optional<TokenFacts> inside = ThreadToken();
    ASSERT_TRUE(inside);
    EXPECT_FALSE(SameId(inside->id, before->id)) << "the scope's token was not set";
  }
  const std::optional<TokenFacts> after = ThreadToken();
  EXPECT_TRUE(after && SameId(after->id, before->id)) << "the thread's own impersonation was not given back";
  ::RevertToSelf();
}

LimitedToken NotNeeded() { return {}; }

TEST(LimitedRightsScope, AnElevatedThreadThatCannotTakeOnTheLimitedRightsIsRefusedAndLeftAlone) {
  struct Case {
    const char* name;
    LimitedTokenSource source;
    bool ok;
    DWORD error;
  };
  const Case cases[] = {
      {"no limited token could be made", fake_limited_token::Unavailable, false, fake_limited_token::kUnavailableError},
      {"the thread cannot be given the token", fake_limited_token::NotImpersonable, false, ERROR_ACCESS_DENIED},
      {"no UAC, or a standard user: nothing to give up", NotNeeded, true, ERROR_SUCCESS},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    {
      const LimitedRightsScope limited(test.source);
      EXPECT_EQ(limited.Ok(), test.ok);
      EXPECT_EQ(limited.Error(), test.error);
      EXPECT_FALSE(ThreadToken());
    }
    EXPECT_FALSE(ThreadToken());
  }
}

// Windows hands an elevated process its linked token at identification level
// only; a process with SeTcbPrivilege gets it as a primary token. Either way
// the result acts with its groups. The stand-in for the limited token is this
// process's own with Administrators for denying only.
TEST(MakeLimitedImpersonationToken, ActsWithTheGroupsTheLinkedTokenHolds) {
  const unique_handle own = ProcessToken();
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof(administrators);
  ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize));
  SID_AND_ATTRIBUTES disabled{administrators, 0};
  unique_handle limitedPrimary;
  ASSERT_TRUE(::CreateRestrictedToken(own.get(), 0, 1, &disabled, 0, nullptr, 0, nullptr, limitedPrimary.put()));
  ASSERT_TRUE(FactsOf(limitedPrimary.get()).administratorsDenyOnly);
  unique_handle limitedIdentification;
  ASSERT_TRUE(::DuplicateTokenEx(limitedPrimary.get(), TOKEN_QUERY, nullptr, SecurityIdentification, TokenImpersonation,
                                 limitedIdentification.put()));

  struct Case {
    const char* name;
    HANDLE linked;
  };
  for (const Case& test :
       {Case{"identification level", limitedIdentification.get()}, Case{"primary", limitedPrimary.get()}}) {
    SCOPED_TRACE(test.name);
    DWORD error = ERROR_GEN_FAILURE;
    const unique_handle token = MakeLimitedImpersonationToken(own.get(), test.linked, error);
    ASSERT_TRUE(token) << error;
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
    const TokenFacts facts = FactsOf(token.get());
    EXPECT_EQ(facts.type, TokenImpersonation);
    EXPECT_EQ(facts.level, SecurityImpersonation);
    EXPECT_TRUE(facts.administratorsDenyOnly) << "Administrators still grant access";
  }
}

}  // namespace
}  // namespace tarnwick
