// The state file: one UTF-16LE line (no byte-order mark) plus one NUL code unit, rewritten as the
// run advances, at most once per 5 seconds unless forced.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "control/state_record.h"
#include "support/win.h"

namespace kal {

// The line, without the NUL: "%d;%d;%I64d;%d;%I64d;%d;%d;%d;%d;%d;%d;%d;%d;%s".
std::wstring FormatStateLine(const StateRecord& state);

// Writes the line and its NUL to `path`, replacing the file, on a short-lived thread of its own so
// that the file is created under the process's identity even while the caller impersonates.
HRESULT WriteStateFileOnTaskThread(const std::wstring& path, const std::wstring& line);

// The 5-second rule over wall-clock seconds; one per process (owned by the module object).
class CStateWriteClock {
 public:
  using Clock = std::function<int64_t()>;
  CStateWriteClock();
  explicit CStateWriteClock(Clock clock) : clock_(std::move(clock)) {}

  // True when a write is due now; then the last write time is now (also if the write fails).
  // A last write time in the future (the clock was set back) counts as expired.
  bool TakeTurn(bool force);

 private:
  Clock clock_;
  int64_t lastWrite_ = 0;
};

// S_OK when written, S_FALSE when skipped by the 5-second rule, else the failed file operation.
HRESULT WriteState(const StateRecord& state, CStateWriteClock& clock, bool force);

}  // namespace kal
