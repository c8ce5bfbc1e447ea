// One attempt to get a service running through the service control manager.
#include "analysis/service_watcher.h"

#include <vector>

#include "support/handles.h"
#include "support/sized_query.h"

namespace kal::cryptography {
namespace {

bool QueryState(SC_HANDLE service, DWORD* state) {
  SERVICE_STATUS status = {};
  if (!::QueryServiceStatus(service, &status)) return false;
  *state = status.dwCurrentState;
  return true;
}

bool WaitWhileStartPending(SC_HANDLE service) {
  DWORD state = 0;
  if (!QueryState(service, &state)) return false;
  while (state == SERVICE_START_PENDING) {
    ::Sleep(500);
    if (!QueryState(service, &state)) return false;
  }
  return state == SERVICE_RUNNING;
}

}  // namespace

bool EnsureServiceRunning(const wchar_t* name) {
  CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return false;
  CServiceHandle service(::OpenServiceW(manager.Get(), name,
                                        SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG |
                                            SERVICE_START));
  if (!service) return false;
  DWORD state = 0;
  if (!QueryState(service.Get(), &state)) return false;
  if (state == SERVICE_RUNNING) return true;
  if (state == SERVICE_START_PENDING) return WaitWhileStartPending(service.Get());

  std::vector<uint8_t> config;
  if (FAILED(QueryVariableSize(&config, [&](void* data, DWORD size, DWORD* needed) {
        return ::QueryServiceConfigW(service.Get(), static_cast<QUERY_SERVICE_CONFIGW*>(data), size, needed);
      })) ||
      config.size() < sizeof(QUERY_SERVICE_CONFIGW))
    return false;
  if (reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data())->dwStartType == SERVICE_DISABLED &&
      !::ChangeServiceConfigW(service.Get(), SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
    return false;
  if (!::StartServiceW(service.Get(), 0, nullptr)) {
    if (::GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) return true;
    return false;
  }
  return WaitWhileStartPending(service.Get());
}

}  // namespace kal::cryptography
