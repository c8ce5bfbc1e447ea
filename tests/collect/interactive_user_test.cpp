// The active session: the choice among listed sessions, the 500 ms cache with its tick-count
// arithmetic, and the user token of a session as an impersonation token of the right user.
#include "collect/interactive_user.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/impersonation.h"

namespace kal {
namespace {

bool UnderWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

WTS_SESSION_INFOW Session(DWORD id, WTS_CONNECTSTATE_CLASS state) {
  WTS_SESSION_INFOW session = {};
  session.SessionId = id;
  session.State = state;
  return session;
}

// The user SID of a token, as bytes.
std::vector<BYTE> UserSid(HANDLE token) {
  DWORD size = 0;
  ::GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !::GetTokenInformation(token, ::TokenUser, buffer.data(), size, &size)) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + ::GetLengthSid(sid));
}

TEST(InteractiveUser, FirstActiveSessionOrThePreviousAnswer) {
  struct Case {
    const char* name;
    std::vector<WTS_SESSION_INFOW> sessions;
    LONG previous;
    LONG expected;
  } const cases[] = {
      {"no sessions", {}, -1, -1},
      {"none active keeps the previous answer", {Session(0, WTSDisconnected), Session(1, WTSListen)}, 4, 4},
      {"the first active one", {Session(0, WTSDisconnected), Session(2, WTSActive), Session(3, WTSActive)}, -1, 2},
      {"session 0 active", {Session(0, WTSActive)}, 5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, PickActiveSession(c.sessions.data(), static_cast<DWORD>(c.sessions.size()), c.previous));
  }
}

TEST(InteractiveUser, SessionCacheServesAKnownIdForFiveHundredMilliseconds) {
  struct Case {
    const char* name;
    LONG stored;
    DWORD takenAt;
    DWORD now;
    bool fresh;
  } const cases[] = {
      // Normal
      {"at once", 3, 1000, 1000, true},
      {"500 ms later", 3, 1000, 1500, true},
      {"501 ms later", 3, 1000, 1501, false},
      // The tick count wraps after 49.7 days
      {"500 ms across the wrap", 3, 0xFFFFFF00u, 0xF4u, true},
      {"512 ms across the wrap", 3, 0xFFFFFF00u, 0x100u, false},
      {"clock behind the stored tick", 3, 1000, 999, false},
      // "No session" is never served from the cache
      {"-1 at once", -1, 1000, 1000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSessionIdCache cache;
    cache.Store(c.stored, c.takenAt);
    LONG id = 0x5EED;
    EXPECT_EQ(c.fresh, cache.TryFresh(c.now, &id));
    EXPECT_EQ(c.fresh ? c.stored : 0x5EED, id);
    EXPECT_EQ(c.stored, cache.Last());
  }
  CSessionIdCache empty;
  LONG id = 0;
  EXPECT_FALSE(empty.TryFresh(0, &id));
  EXPECT_EQ(-1, empty.Last());
}

TEST(InteractiveUser, NoActiveSessionGivesNoToken) {
  const LONG active = GetActiveSessionId();
  EXPECT_EQ(active, GetActiveSessionId());  // cached or asked again, the answer is the same
  if (active != kActiveConsoleSession) GTEST_SKIP() << "a session is active here: " << active;
  EXPECT_FALSE(GetInteractiveUserToken(kActiveConsoleSession).IsValid());
}

TEST(InteractiveUser, TokenOfASessionIsAnImpersonationTokenOfItsUser) {
  DWORD session = 0;
  ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
  CToken token = GetInteractiveUserToken(static_cast<LONG>(session));
  if (!token && !UnderWine()) GTEST_SKIP() << "the session's user token needs SeTcbPrivilege";
  ASSERT_TRUE(token.IsValid());

  TOKEN_TYPE type = TokenPrimary;
  DWORD size = 0;
  ASSERT_TRUE(::GetTokenInformation(token.Get(), TokenType, &type, sizeof(type), &size));
  EXPECT_EQ(TokenImpersonation, type);
  SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
  ASSERT_TRUE(::GetTokenInformation(token.Get(), TokenImpersonationLevel, &level, sizeof(level), &size));
  EXPECT_EQ(SecurityImpersonation, level);

  CToken own;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, own.Put()));
  EXPECT_EQ(UserSid(own.Get()), UserSid(token.Get()));

  // The thread can wear it, and reverts to its own identity.
  {
    CImpersonation impersonation;
    ASSERT_EQ(S_OK, impersonation.Impersonate(token.Get()));
    CToken worn;
    ASSERT_TRUE(::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, worn.Put()));
    EXPECT_EQ(UserSid(token.Get()), UserSid(worn.Get()));
  }
  CToken none;
  EXPECT_FALSE(::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, none.Put()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_TOKEN), ::GetLastError());
}

TEST(InteractiveUser, UnknownSessionGivesNoToken) {
  if (UnderWine()) GTEST_SKIP() << "Wine hands out its one user's token for any session id";
  EXPECT_FALSE(GetInteractiveUserToken(4242).IsValid());
}

}  // namespace
}  // namespace kal
