// The active console session and its user's token, through the terminal services.
#include "collect/interactive_user.h"

#include "collect/privilege.h"

namespace kal {
namespace {

CSessionIdCache& SessionCache() {
  static CSessionIdCache cache;
  return cache;
}

// A service running as the system account holds SeTcbPrivilege, which WTSQueryUserToken needs.
bool EnableTcbPrivilege() {
  CToken token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.Put())) return false;
  return EnablePrivilege(token.Get(), L"SeTcbPrivilege", true);
}

}  // namespace

bool CSessionIdCache::TryFresh(DWORD now, LONG* id) const {
  const uint64_t value = value_.load();
  const LONG cached = static_cast<LONG>(static_cast<uint32_t>(value));
  const DWORD taken = static_cast<DWORD>(value >> 32);
  if (cached == kActiveConsoleSession || now - taken >= 501) return false;
  *id = cached;
  return true;
}

LONG PickActiveSession(const WTS_SESSION_INFOW* sessions, DWORD count, LONG previous) {
  for (DWORD i = 0; i < count; ++i)
    if (sessions[i].State == WTSActive) return static_cast<LONG>(sessions[i].SessionId);
  return previous;
}

LONG GetActiveSessionId() {
  CSessionIdCache& cache = SessionCache();
  LONG id = kActiveConsoleSession;
  if (cache.TryFresh(::GetTickCount(), &id)) return id;
  id = cache.Last();
  CWtsSessionInfo sessions;
  DWORD count = 0;
  if (::WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, sessions.Put(), &count))
    id = PickActiveSession(sessions.Get(), count, id);
  cache.Store(id, ::GetTickCount());
  return id;
}

CToken GetInteractiveUserToken(LONG sessionId) {
  static const bool tcbEnabled = EnableTcbPrivilege();  // once per process; failure is no matter
  (void)tcbEnabled;
  if (sessionId == kActiveConsoleSession) {
    sessionId = GetActiveSessionId();
    if (sessionId < 0) return CToken();
  }
  CToken userToken;
  if (!::WTSQueryUserToken(static_cast<ULONG>(sessionId), userToken.Put())) return CToken();
  CToken impersonation;
  if (!::DuplicateTokenEx(userToken.Get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenImpersonation,
                          impersonation.Put()))
    return CToken();
  return impersonation;
}

}  // namespace kal
