// The interactive user: the active console session and an impersonation token of its user, so
// that a run can read files with that user's rights.
#pragma once

#include <atomic>
#include <cstdint>

#include "support/handles.h"

namespace kal {

// The session id that stands for "the active console session"; also the answer "none".
constexpr LONG kActiveConsoleSession = -1;

// The id of the first active session of the local server, or -1. A known id is cached
// process-wide for 500 ms; when no session is active the previous answer stays.
LONG GetActiveSessionId();

// An impersonation token (all access rights, SecurityImpersonation) of the user logged on to
// `sessionId`, or to the active console session for -1; empty when there is none. Enables
// SeTcbPrivilege on the process token once per process first (needed outside the system account).
CToken GetInteractiveUserToken(LONG sessionId);

// The first session of `sessions` in the active state, or `previous` when none is.
LONG PickActiveSession(const WTS_SESSION_INFOW* sessions, DWORD count, LONG previous);

// The cache of GetActiveSessionId: an id and the tick count when it was taken, kept in one atomic
// so that a reader never pairs one answer's id with another's tick count.
class CSessionIdCache {
 public:
  CSessionIdCache() : value_(Pack(kActiveConsoleSession, 0)) {}

  // The cached id when it is not -1 and was taken less than 501 ms before `now` (tick counts
  // wrap after 49.7 days); otherwise false.
  bool TryFresh(DWORD now, LONG* id) const;
  LONG Last() const { return static_cast<LONG>(static_cast<uint32_t>(value_.load())); }
  void Store(LONG id, DWORD now) { value_.store(Pack(id, now)); }

 private:
  static uint64_t Pack(LONG id, DWORD tick) { return (uint64_t(tick) << 32) | static_cast<uint32_t>(id); }
  std::atomic<uint64_t> value_;
};

}  // namespace kal
