// Program entry, command-line modes and start of the module object.
#include "control/vantorag_module.h"

#include "control/log_event.h"
#include "control/options.h"
#include "control/scan_run.h"
#include "support/com.h"

namespace kal {

CvantoragModule::CvantoragModule() : context_(config_, state_, stateClock_), items_(context_) {}

void SendStopRequest() {
  CEvent event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kStopEventName));
  if (event) ::SetEvent(event.Get());
}

bool CvantoragModule::ParseCommandLine(int argc, wchar_t* const* argv, HRESULT* exitCode) {
  runAsService_ = false;
  const HRESULT hr = ParseOptions(argc, argv, config_, state_);
  if (FAILED(hr)) {
    *exitCode = hr;
    return false;
  }
  switch (config_.Mode) {
    case RunMode::SendStop:
      SendStopRequest();
      return false;  // the exit code stays 0 whether or not a scan was running
    case RunMode::UnregisterService:
    case RunMode::RegisterService:
      *exitCode = E_NOTIMPL;  // service registration is not built yet
      return false;
    case RunMode::Scan:
    case RunMode::Service:
      if (config_.OutputPath.empty() || state_.StatePath.empty()) {
        *exitCode = E_INVALIDARG;
        return false;
      }
      runAsService_ = config_.Mode == RunMode::Service;
      context_.SetRunAsService(runAsService_);
      SetLogEventRunAsService(runAsService_);
      return true;
  }
  return false;
}

HRESULT CvantoragModule::RunScan() {
  CScanRun run(context_, items_);
  return run.Run();
}

DWORD CvantoragModule::Start() {
  if (runAsService_) return static_cast<DWORD>(E_NOTIMPL);  // the service start is not built yet
  CComInit com;
  const HRESULT hr = com.Initialize(COINIT_MULTITHREADED);
  if (FAILED(hr) && !(hr == RPC_E_CHANGED_MODE && ::GetModuleHandleW(L"Mscoree.dll"))) return static_cast<DWORD>(hr);
  return static_cast<DWORD>(RunScan());
}

DWORD ProgramMain(int argc, wchar_t* const* argv) {
  CvantoragModule module;
  HRESULT exitCode = S_OK;
  if (!module.ParseCommandLine(argc, argv, &exitCode)) return static_cast<DWORD>(exitCode);
  return module.Start();
}

}  // namespace kal
