// Autorun fixtures the end-to-end tests can't write from outside Wine:
//   e2e_autorun_fixture.exe shortcut <lnk path> <target>        a shell shortcut
//   e2e_autorun_fixture.exe task <name> <application> <params>  a Task Scheduler 1.0 work item
#include <mstask.h>
#include <shobjidl.h>

#include <cstdio>
#include <cwchar>

#include "support/com.h"
#include "support/handles.h"

namespace {

HRESULT Shortcut(const wchar_t* lnk, const wchar_t* target) {
  kal::CComPtr<IShellLinkW> link;
  kal::CComPtr<IPersistFile> file;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid());
  if (SUCCEEDED(hr)) hr = link->SetPath(target);
  if (SUCCEEDED(hr)) hr = link.As(&file);
  if (SUCCEEDED(hr)) hr = file->Save(lnk, TRUE);
  return hr;
}

// The 1.0 interfaces talk to the scheduler service, which a fresh prefix does not start by itself.
HRESULT StartScheduleService() {
  kal::CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return HRESULT_FROM_WIN32(::GetLastError());
  kal::CServiceHandle service(::OpenServiceW(manager.Get(), L"Schedule", SERVICE_START | SERVICE_QUERY_STATUS));
  if (!service) return HRESULT_FROM_WIN32(::GetLastError());
  ::StartServiceW(service.Get(), 0, nullptr);
  SERVICE_STATUS status{};
  for (int i = 0; i < 100 && ::QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_RUNNING; ++i)
    ::Sleep(100);
  return status.dwCurrentState == SERVICE_RUNNING ? S_OK : E_FAIL;
}

HRESULT Task(const wchar_t* name, const wchar_t* application, const wchar_t* parameters) {
  kal::CComPtr<ITaskScheduler> scheduler;
  kal::CComPtr<ITask> task;
  kal::CComPtr<IPersistFile> file;
  HRESULT hr = StartScheduleService();
  if (SUCCEEDED(hr))
    hr = ::CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                            scheduler.PutVoid());
  if (SUCCEEDED(hr))
    hr = scheduler->NewWorkItem(name, CLSID_CTask, IID_ITask, reinterpret_cast<IUnknown**>(task.Put()));
  if (SUCCEEDED(hr)) hr = task->SetApplicationName(application);
  if (SUCCEEDED(hr)) hr = task->SetParameters(parameters);
  if (SUCCEEDED(hr)) hr = task.As(&file);
  if (SUCCEEDED(hr)) hr = file->Save(nullptr, TRUE);
  return hr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  kal::CComInit com;
  if (FAILED(com.Initialize(COINIT_APARTMENTTHREADED))) return 3;
  HRESULT hr = E_INVALIDARG;
  if (argc == 4 && std::wcscmp(argv[1], L"shortcut") == 0) hr = Shortcut(argv[2], argv[3]);
  if (argc == 5 && std::wcscmp(argv[1], L"task") == 0) hr = Task(argv[2], argv[3], argv[4]);
  if (FAILED(hr)) std::fprintf(stderr, "e2e_autorun_fixture: 0x%08lX\n", static_cast<unsigned long>(hr));
  return SUCCEEDED(hr) ? 0 : 1;
}
