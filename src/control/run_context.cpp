// State refresh and the pause/stop protocol of a run.
#include "control/run_context.h"

#include "control/log_event.h"

namespace kal {

HRESULT CRunContext::RefreshState(bool force) {
  const HRESULT hr = WriteState(state_, clock_, force);
  if (FAILED(hr) && RecordsErrors())
    LogEvent(L"Failed to write state file %ls (0x%08x)", state_.StatePath.c_str(), static_cast<unsigned>(hr));
  return hr;
}

HRESULT CRunContext::CreateRunEvent() {
  if (!config_.RunEvent)
    config_.RunEvent.Reset(::CreateEventW(nullptr, TRUE, config_.PauseRequested.load() == 0, nullptr));
  return config_.RunEvent ? S_OK : E_HANDLE;
}

void CRunContext::EnterPhase(int32_t phase) {
  state_.Phase = phase;
  RefreshState(true);
}

HRESULT CRunContext::Checkpoint() {
  if (config_.PauseRequested.load() != 0) {
    const HRESULT hr = WaitWhilePaused();
    if (FAILED(hr)) return hr;
  }
  return config_.StopRequested.load() != 0 ? E_ABORT : S_OK;
}

HRESULT CRunContext::WaitWhilePaused() {
  const int32_t phase = state_.Phase;
  EnterPhase(kPhasePaused);
  if (service_) service_->ReportPaused();
  if (::WaitForSingleObject(config_.RunEvent.Get(), INFINITE) != WAIT_OBJECT_0) return E_UNEXPECTED;
  if (service_) service_->ReportRunning();
  EnterPhase(phase);
  return S_OK;
}

}  // namespace kal
