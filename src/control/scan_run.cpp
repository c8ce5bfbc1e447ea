// The scan run.
#include "control/scan_run.h"

#include <cwchar>

#include "control/options.h"

namespace kal {

HRESULT CScanRun::Run() {
  RunConfig& config = context_.Config();
  config.StopEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, kStopEventName));

  HRESULT hr = Scan();
  StateRecord& state = context_.State();
  if (SUCCEEDED(hr)) {
    state.Phase = kPhaseFinished;
  } else if (hr != E_ABORT) {
    wchar_t text[32];
    std::swprintf(text, 32, L"Error 0x%8.8x", static_cast<unsigned>(hr));
    state.Phase = kPhaseFailed;
    state.ErrorText = text;
  } else {
    hr = S_OK;
    state.Phase = kPhaseStopped;
  }
  context_.RefreshState(true);
  return hr;
}

HRESULT CScanRun::Scan() {
  RunConfig& config = context_.Config();
  if (!config.FilterText.empty() && config.FilterMasks.empty()) ParseFilter(config, config.FilterText);
  config.RunEvent.Reset(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  if (!config.RunEvent) return E_HANDLE;
  return S_OK;
}

}  // namespace kal
