// Registration of the service with the service control manager: install with the composed
// command line, and removal that stops the old service and waits until it is gone, so that a
// new registration never meets an entry still marked for deletion.
#include "control/service_command_line.h"
#include "control/service_messages.h"
#include "control/vantorag_module.h"

namespace kal {
namespace {

constexpr DWORD kPollMs = 100;
constexpr DWORD kStopResendMs = 1000;

}  // namespace

bool CvantoragModule::IsInstalled() const {
  CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return false;
  CServiceHandle service(::OpenServiceW(manager.Get(), serviceName_.c_str(), SERVICE_QUERY_CONFIG));
  return service.IsValid();
}

bool CvantoragModule::Install() {
  if (IsInstalled()) return true;
  std::wstring commandLine;
  if (FAILED(ComposeServiceCommandLine(config_, state_.StatePath, &commandLine))) return false;

  CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    ShowServiceMessage(kMsgCouldNotOpenManager, serviceName_);
    return false;
  }
  // No account and no password: the local system account.
  CServiceHandle service(::CreateServiceW(manager.Get(), serviceName_.c_str(), serviceName_.c_str(), SERVICE_ALL_ACCESS,
                                          kServiceType, kServiceStartType, kServiceErrorControl, commandLine.c_str(),
                                          nullptr, nullptr, kServiceDependencies, nullptr, nullptr));
  if (!service) {
    ShowServiceMessage(kMsgCouldNotStartService, serviceName_);
    return false;
  }
  return true;
}

bool CvantoragModule::Uninstall() {
  if (!IsInstalled()) return true;
  CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    ShowServiceMessage(kMsgCouldNotOpenManager, serviceName_);
    return false;
  }
  CServiceHandle service(
      ::OpenServiceW(manager.Get(), serviceName_.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service) {
    ShowServiceMessage(kMsgCouldNotOpenService, serviceName_);
    return false;
  }

  SERVICE_STATUS status = {};
  if (!::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
    const DWORD error = ::GetLastError();
    const bool alreadyStopping = error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL && status.dwCurrentState == SERVICE_STOP_PENDING;
    if (error != ERROR_SERVICE_NOT_ACTIVE && !alreadyStopping) ShowServiceMessage(kMsgCouldNotStopService, serviceName_);
  }
  WaitUntilStopped(service.Get());  // a service that does not stop in time is still deleted below

  if (!::DeleteService(service.Get())) {
    ShowServiceMessage(kMsgCouldNotDeleteService, serviceName_);
    return false;
  }
  service.Reset();  // the entry can't go while a handle to it is open
  if (!WaitUntilGone(manager.Get())) {
    ShowServiceMessage(kMsgCouldNotDeleteService, serviceName_);
    return false;
  }
  return true;
}

bool CvantoragModule::WaitUntilStopped(SC_HANDLE service) const {
  const ULONGLONG start = ::GetTickCount64();
  ULONGLONG lastStop = start;
  for (;;) {
    SERVICE_STATUS status = {};
    if (!::QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == SERVICE_STOPPED) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (now - start >= kStopWaitMs) return false;
    // A service still starting refuses the stop; ask again until it takes it.
    if (status.dwCurrentState != SERVICE_STOP_PENDING && now - lastStop >= kStopResendMs) {
      ::ControlService(service, SERVICE_CONTROL_STOP, &status);
      lastStop = now;
    }
    ::Sleep(kPollMs);
  }
}

bool CvantoragModule::WaitUntilGone(SC_HANDLE manager) const {
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    CServiceHandle service(::OpenServiceW(manager, serviceName_.c_str(), SERVICE_QUERY_STATUS));
    if (!service && ::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return true;
    if (::GetTickCount64() - start >= kDeleteWaitMs) return false;
    service.Reset();
    ::Sleep(kPollMs);
  }
}

}  // namespace kal
