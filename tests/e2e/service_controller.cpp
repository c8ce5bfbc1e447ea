// Test controller of a service through the service control manager API, for what `sc` under
// Wine can't do (pause, continue) and to read back a registration in full. One command a run:
//   service_controller start NAME
//   service_controller control NAME stop|pause|continue
//   service_controller wait NAME STATE TIMEOUT_MS     (STATE: 1 stopped ... 7 paused)
//   service_controller query NAME
//   service_controller config NAME
//   service_controller remove NAME                     (stop if running, delete, wait until gone)
// Prints key=value lines; "error=N" is the Win32 error of the failing call. Exit 0 when the
// command did what it says, 1 otherwise, 2 for bad usage.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/handles.h"

namespace {

using kal::CRegKey;
using kal::CServiceHandle;

int Fail(const char* what) {
  std::printf("error=%lu\nfailed=%s\n", ::GetLastError(), what);
  return 1;
}

void PrintStatus(const SERVICE_STATUS& s) {
  std::printf("state=%lu\nexit=%lu\nspecific=0x%08lX\ncontrols=%lu\n", s.dwCurrentState, s.dwWin32ExitCode,
              s.dwServiceSpecificExitCode, s.dwControlsAccepted);
}

std::string Narrow(const wchar_t* text) {
  if (!text) return std::string();
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  return out;
}

// A multi-string as "a|b".
std::string JoinMulti(const wchar_t* multi) {
  std::string out;
  for (const wchar_t* p = multi; p && *p; p += wcslen(p) + 1) out += (out.empty() ? "" : "|") + Narrow(p);
  return out;
}

int Config(SC_HANDLE manager, const wchar_t* name) {
  CServiceHandle service(::OpenServiceW(manager, name, SERVICE_QUERY_CONFIG));
  if (!service) return Fail("OpenService");
  DWORD needed = 0;
  ::QueryServiceConfigW(service.Get(), nullptr, 0, &needed);
  std::string buffer(needed + 16, '\0');
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(&buffer[0]);
  if (!::QueryServiceConfigW(service.Get(), config, static_cast<DWORD>(buffer.size()), &needed))
    return Fail("QueryServiceConfig");
  std::printf("type=%lu\nstart=%lu\nerrorcontrol=%lu\npath=%s\naccount=%s\ndisplay=%s\ndepends=%s\n",
              config->dwServiceType, config->dwStartType, config->dwErrorControl,
              Narrow(config->lpBinaryPathName).c_str(), Narrow(config->lpServiceStartName).c_str(),
              Narrow(config->lpDisplayName).c_str(), JoinMulti(config->lpDependencies).c_str());
  // The service manager may leave the dependencies out; the registry holds what was registered.
  const std::wstring keyPath = std::wstring(L"System\\CurrentControlSet\\Services\\") + name;
  CRegKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.Put()) == ERROR_SUCCESS) {
    wchar_t value[512] = {};
    DWORD size = sizeof(value) - 2 * sizeof(wchar_t);
    if (::RegQueryValueExW(key.Get(), L"DependOnService", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
        ERROR_SUCCESS)
      std::printf("depends_registry=%s\n", JoinMulti(value).c_str());
  }
  return 0;
}

bool WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs, SERVICE_STATUS* status) {
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    if (!::QueryServiceStatus(service, status)) return false;
    if (status->dwCurrentState == state) return true;
    if (::GetTickCount64() - start >= timeoutMs) return false;
    ::Sleep(50);
  }
}

int Remove(SC_HANDLE manager, const wchar_t* name) {
  CServiceHandle service(::OpenServiceW(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service) {
    if (::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
      std::printf("removed=0\n");
      return 0;
    }
    return Fail("OpenService");
  }
  SERVICE_STATUS status = {};
  ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
  WaitForState(service.Get(), SERVICE_STOPPED, 60000, &status);
  if (!::DeleteService(service.Get()) && ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
    return Fail("DeleteService");
  service.Reset();
  for (int i = 0; i < 600; ++i) {
    CServiceHandle probe(::OpenServiceW(manager, name, SERVICE_QUERY_STATUS));
    if (!probe) {
      std::printf("removed=1\n");
      return 0;
    }
    probe.Reset();
    ::Sleep(50);
  }
  return Fail("still there");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: service_controller start|control|wait|query|config|remove NAME [...]\n");
    return 2;
  }
  const std::wstring command = argv[1];
  const wchar_t* name = argv[2];
  CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return Fail("OpenSCManager");

  if (command == L"config") return Config(manager.Get(), name);
  if (command == L"remove") return Remove(manager.Get(), name);

  CServiceHandle service(
      ::OpenServiceW(manager.Get(), name, SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_QUERY_STATUS));
  if (!service) return Fail("OpenService");
  SERVICE_STATUS status = {};
  if (command == L"start") {
    if (!::StartServiceW(service.Get(), 0, nullptr)) return Fail("StartService");
    std::printf("started=1\n");
    return 0;
  }
  if (command == L"query") {
    if (!::QueryServiceStatus(service.Get(), &status)) return Fail("QueryServiceStatus");
    PrintStatus(status);
    return 0;
  }
  if (command == L"control" && argc >= 4) {
    const std::wstring what = argv[3];
    const DWORD control = what == L"stop"       ? SERVICE_CONTROL_STOP
                          : what == L"pause"    ? SERVICE_CONTROL_PAUSE
                          : what == L"continue" ? SERVICE_CONTROL_CONTINUE
                                                : 0;
    if (control == 0) return 2;
    if (!::ControlService(service.Get(), control, &status)) {
      const int rc = Fail("ControlService");
      PrintStatus(status);
      return rc;
    }
    PrintStatus(status);
    return 0;
  }
  if (command == L"wait" && argc >= 5) {
    const bool reached = WaitForState(service.Get(), std::wcstoul(argv[3], nullptr, 10),
                                      std::wcstoul(argv[4], nullptr, 10), &status);
    PrintStatus(status);
    std::printf("reached=%d\n", reached ? 1 : 0);
    return reached ? 0 : 1;
  }
  return 2;
}
