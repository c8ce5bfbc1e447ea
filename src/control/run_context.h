// What every phase of a run works with: the run configuration, the state record and its file,
// and the pause and stop protocol tested between two items.
#pragma once

#include "control/run_config.h"
#include "control/state_file.h"
#include "control/state_record.h"

namespace kal {

// The service side of a pause: the module reports paused (7) and running (4) to the service
// control manager. Console runs have none.
class IServiceStatusReporter {
 public:
  virtual ~IServiceStatusReporter() = default;
  // Start pending -> running, once, when the run begins ("Service started/resumed").
  virtual void ReportStarted() = 0;
  virtual void ReportPaused() = 0;
  virtual void ReportRunning() = 0;
};

class CRunContext {
 public:
  CRunContext(RunConfig& config, StateRecord& state, CStateWriteClock& clock)
      : config_(config), state_(state), clock_(clock) {}

  RunConfig& Config() { return config_; }
  StateRecord& State() { return state_; }
  bool RunAsService() const { return runAsService_; }
  void SetRunAsService(bool value) { runAsService_ = value; }
  void SetServiceStatusReporter(IServiceStatusReporter* reporter) { service_ = reporter; }

  // A service run moves from start pending to running as the scan begins.
  void ReportServiceRunning() {
    if (runAsService_ && service_) service_->ReportStarted();
  }

  // The manual-reset event a pause clears: created once, signalled unless a pause is already
  // requested. E_HANDLE when it can't be created.
  HRESULT CreateRunEvent();

  // WriteState, then the "Failed to write state file" message in service runs with --errors.
  HRESULT RefreshState(bool force);

  // Every collector and the report writer start with this: phase set, state file forced.
  void EnterPhase(int32_t phase);

  // Between two items: waits out a pause; E_ABORT once a stop was requested.
  HRESULT Checkpoint();
  HRESULT WaitWhilePaused();

  // Logged only in service runs with --errors (per-item and state-file errors).
  bool RecordsErrors() const { return runAsService_ && config_.RecordErrors; }

 private:
  RunConfig& config_;
  StateRecord& state_;
  CStateWriteClock& clock_;
  bool runAsService_ = false;
  IServiceStatusReporter* service_ = nullptr;
};

}  // namespace kal
