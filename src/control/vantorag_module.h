// The program's single module object: run configuration, state record and item tables for the
// life of the process, the command-line modes, the console or service start, and the service
// side of the run: main routine, control handler, pause, continue and stop, and the service's
// own registration.
#pragma once

#include <atomic>
#include <string>

#include "collect/scan_items.h"
#include "control/run_config.h"
#include "control/run_context.h"
#include "control/state_file.h"
#include "control/state_record.h"

namespace kal {

// The service's identity as registered.
constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS;
constexpr DWORD kServiceStartType = SERVICE_DEMAND_START;
constexpr DWORD kServiceErrorControl = SERVICE_ERROR_NORMAL;
extern const wchar_t kServiceDependencies[];  // "RPCSS", double-NUL terminated

class CvantoragModule : private IServiceStatusReporter {
 public:
  // The service name comes from string resource 100 ("vantorag"); a test may name its own.
  explicit CvantoragModule(const wchar_t* serviceName = nullptr);
  CvantoragModule(const CvantoragModule&) = delete;
  CvantoragModule& operator=(const CvantoragModule&) = delete;

  // True when the program goes on to the scan or the service; false when it ends with *exitCode.
  bool ParseCommandLine(int argc, wchar_t* const* argv, HRESULT* exitCode);

  // Console: COM in the multi-threaded apartment, then the scan. Service: the dispatcher, which
  // returns once the service has stopped. The result is the process exit code.
  DWORD Start();

  // The service main routine and the control handler (called by the dispatcher's threads).
  void ServiceMain(DWORD argc, wchar_t** argv);
  DWORD Handler(DWORD control);
  void OnStop();
  void OnPause();
  void OnContinue();

  // Registration: Install leaves an existing service alone; Uninstall stops the service, deletes
  // it and waits until the service manager no longer knows it. Failures show a message box.
  bool IsInstalled() const;
  bool Install();
  bool Uninstall();
  // The module has no COM classes and no type library: nothing to (un)register.
  HRESULT RegisterComServer() { return S_OK; }
  HRESULT UnregisterComServer() { return S_OK; }

  const std::wstring& ServiceName() const { return serviceName_; }
  SERVICE_STATUS ServiceStatus() const { return status_; }
  bool RunAsService() const { return runAsService_; }
  RunConfig& Config() { return config_; }
  StateRecord& State() { return state_; }
  CScanItems& Items() { return items_; }
  CRunContext& Context() { return context_; }

  // How long Uninstall waits for a running service to stop, and then for its entry to go.
  static constexpr DWORD kStopWaitMs = 60000;
  static constexpr DWORD kDeleteWaitMs = 30000;

 private:
  // IServiceStatusReporter: the scanning thread's reports.
  void ReportStarted() override;
  void ReportPaused() override;
  void ReportRunning() override;

  HRESULT RunScan();
  LONG ExchangeState(DWORD state);
  // Paused and running come from the scanning thread; neither may undo a stop in progress.
  void SetStateUnlessStopping(DWORD state);
  void ReportStatus();
  // A failed run's HRESULT goes out as a service-specific error.
  void SetExitCode(HRESULT hr);
  DWORD ProcessExitCode() const;
  bool WaitUntilStopped(SC_HANDLE service) const;
  bool WaitUntilGone(SC_HANDLE manager) const;

  std::wstring serviceName_;
  SERVICE_STATUS_HANDLE statusHandle_ = nullptr;  // owned by the service manager, never closed
  SERVICE_STATUS status_;
  bool runAsService_ = true;  // cleared before the options are read
  DWORD serviceThreadId_ = 0;
  RunConfig config_;
  StateRecord state_;
  CStateWriteClock stateClock_;
  CRunContext context_;
  CScanItems items_;
};

// Sets the named stop event of a running scan, if there is one.
void SendStopRequest();

// wmain's body: module, command line, start; returns the process exit code.
DWORD ProgramMain(int argc, wchar_t* const* argv);

}  // namespace kal
