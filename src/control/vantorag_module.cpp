// Program entry, command-line modes, and the console or service start of the module object with
// the service main routine and control handler.
#include "control/vantorag_module.h"

#include <memory>
#include <new>

#include "control/log_event.h"
#include "control/options.h"
#include "control/scan_run.h"
#include "support/com.h"

namespace kal {
namespace {

constexpr UINT kServiceNameResource = 100;

// The dispatcher calls the service main routine without a context; there is one module per process.
CvantoragModule* g_serviceModule = nullptr;

void WINAPI ServiceMainEntry(DWORD argc, LPWSTR* argv) { g_serviceModule->ServiceMain(argc, argv); }

DWORD WINAPI HandlerEntry(DWORD control, DWORD, LPVOID, LPVOID context) {
  return static_cast<CvantoragModule*>(context)->Handler(control);
}

std::wstring LoadServiceName() {
  wchar_t name[256] = {};
  if (::LoadStringW(::GetModuleHandleW(nullptr), kServiceNameResource, name, 256) > 0) return name;
  return L"vantorag";  // programs without the string table (test programs) use the same name
}

// COM in the multi-threaded apartment. A thread that the .NET runtime already put in another
// apartment goes on without owning COM; any other failure is returned.
HRESULT InitializeCom(CComInit& com) {
  const HRESULT hr = com.Initialize(COINIT_MULTITHREADED);
  if (FAILED(hr) && hr == RPC_E_CHANGED_MODE && ::GetModuleHandleW(L"Mscoree.dll")) return S_OK;
  return hr;
}

}  // namespace

const wchar_t kServiceDependencies[] = L"RPCSS\0";

CvantoragModule::CvantoragModule(const wchar_t* serviceName)
    : serviceName_(serviceName ? serviceName : LoadServiceName()),
      status_{kServiceType, SERVICE_STOPPED, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE, 0, 0, 0, 0},
      context_(config_, state_, stateClock_),
      items_(context_) {
  context_.SetServiceStatusReporter(this);
}

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
    case RunMode::UnregisterService: {
      const HRESULT unregistered = UnregisterComServer();
      *exitCode = FAILED(unregistered) ? unregistered : (Uninstall() ? S_OK : E_FAIL);
      return false;
    }
    case RunMode::RegisterService:
      // Always a fresh registration that carries this run's options.
      *exitCode = !Uninstall() || !Install() ? E_FAIL : RegisterComServer();
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
  if (runAsService_) {
    g_serviceModule = this;
    SERVICE_TABLE_ENTRYW table[] = {{&serviceName_[0], ServiceMainEntry}, {nullptr, nullptr}};
    if (!::StartServiceCtrlDispatcherW(table)) {
      status_.dwWin32ExitCode = ::GetLastError();
      status_.dwServiceSpecificExitCode = 0;
    }
    return ProcessExitCode();
  }
  CComInit com;
  const HRESULT hr = InitializeCom(com);
  if (FAILED(hr)) return static_cast<DWORD>(hr);
  status_.dwWin32ExitCode = static_cast<DWORD>(RunScan());
  return status_.dwWin32ExitCode;
}

void CvantoragModule::ServiceMain(DWORD, wchar_t**) {
  ExchangeState(SERVICE_START_PENDING);
  serviceThreadId_ = ::GetCurrentThreadId();
  // The pause protocol clears this event; it must exist before the first control can arrive.
  context_.CreateRunEvent();

  statusHandle_ = ::RegisterServiceCtrlHandlerExW(serviceName_.c_str(), HandlerEntry, this);
  if (!statusHandle_) {
    LogEvent(L"Handler not installed");
    return;
  }
  SetExitCode(S_OK);
  status_.dwCheckPoint = 0;
  status_.dwWaitHint = 0;
  ReportStatus();

  CComInit com;
  HRESULT hr = InitializeCom(com);
  if (SUCCEEDED(hr)) hr = RunScan();  // a COM failure ends the service with it, no scan run
  SetExitCode(hr);
  com.Reset();

  ExchangeState(SERVICE_STOPPED);
  ReportStatus();
  LogEvent(L"Service stopped");
}

DWORD CvantoragModule::Handler(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      OnStop();
      return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
      OnPause();
      return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
      OnContinue();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      LogEvent(L"Bad service request");
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void CvantoragModule::OnStop() {
  ExchangeState(SERVICE_STOP_PENDING);
  config_.StopRequested.exchange(1);
  ReportStatus();
  // A paused scan wakes up and sees the stop at once.
  if (config_.RunEvent) ::SetEvent(config_.RunEvent.Get());
}

void CvantoragModule::OnPause() {
  if (config_.PauseRequested.load() != 0) return;
  if (config_.RunEvent) ::ResetEvent(config_.RunEvent.Get());
  ExchangeState(SERVICE_PAUSE_PENDING);
  config_.PauseRequested.exchange(1);
  ReportStatus();  // the scanning thread reports paused once it holds at its next checkpoint
}

void CvantoragModule::OnContinue() {
  ExchangeState(SERVICE_CONTINUE_PENDING);
  config_.PauseRequested.exchange(0);
  ReportStatus();
  if (config_.RunEvent) ::SetEvent(config_.RunEvent.Get());
}

void CvantoragModule::ReportStarted() {
  const LONG previous = ::InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(&status_.dwCurrentState),
                                                     SERVICE_RUNNING, SERVICE_START_PENDING);
  if (previous != SERVICE_START_PENDING) return;
  LogEvent(L"Service started/resumed");
  ReportStatus();
}

void CvantoragModule::ReportPaused() {
  SetStateUnlessStopping(SERVICE_PAUSED);
  ReportStatus();
}

void CvantoragModule::ReportRunning() {
  SetStateUnlessStopping(SERVICE_RUNNING);
  ReportStatus();
}

LONG CvantoragModule::ExchangeState(DWORD state) {
  return ::InterlockedExchange(reinterpret_cast<volatile LONG*>(&status_.dwCurrentState), static_cast<LONG>(state));
}

void CvantoragModule::SetStateUnlessStopping(DWORD state) {
  volatile LONG* current = reinterpret_cast<volatile LONG*>(&status_.dwCurrentState);
  for (;;) {
    const LONG seen = *current;
    if (seen == SERVICE_STOP_PENDING || seen == SERVICE_STOPPED) return;
    if (::InterlockedCompareExchange(current, static_cast<LONG>(state), seen) == seen) return;
  }
}

void CvantoragModule::ReportStatus() {
  if (statusHandle_) ::SetServiceStatus(statusHandle_, &status_);
}

void CvantoragModule::SetExitCode(HRESULT hr) {
  status_.dwWin32ExitCode = FAILED(hr) ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
  status_.dwServiceSpecificExitCode = FAILED(hr) ? static_cast<DWORD>(hr) : 0;
}

DWORD CvantoragModule::ProcessExitCode() const {
  return status_.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? status_.dwServiceSpecificExitCode
                                                                 : status_.dwWin32ExitCode;
}

DWORD ProgramMain(int argc, wchar_t* const* argv) {
  std::unique_ptr<CvantoragModule> module;
  try {
    module.reset(new CvantoragModule());
  } catch (const std::bad_alloc&) {
    return static_cast<DWORD>(-1);  // the module could not be built
  }
  HRESULT exitCode = S_OK;
  if (!module->ParseCommandLine(argc, argv, &exitCode)) return static_cast<DWORD>(exitCode);
  return module->Start();
}

}  // namespace kal
