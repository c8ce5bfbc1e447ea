// A service program that does nothing but run until it is stopped: registered by the tests under
// the cryptographic service's name, which Wine does not have.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;

void Report(DWORD state) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  ::SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING);
    ::SetEvent(g_stop);
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  g_status = ::RegisterServiceCtrlHandlerExW(L"", Control, nullptr);
  if (g_status == nullptr) return;
  // A short pending start, as a real service reports, so the caller's wait is exercised.
  Report(SERVICE_START_PENDING);
  ::Sleep(700);
  Report(SERVICE_RUNNING);
  ::WaitForSingleObject(g_stop, INFINITE);
  Report(SERVICE_STOPPED);
}

}  // namespace

int wmain() {
  g_stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  wchar_t name[] = L"";
  const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
