#include "autoruns/task_scheduler.h"

#include <mstask.h>

#include <vector>

#include "autoruns/os_version.h"
#include "autoruns/path_resolution.h"
#include "autoruns/task_actions.h"
#include "support/com.h"

namespace kal {
namespace {

constexpr int32_t kTaskCategory = 3;
constexpr ULONG kBatch = 5;

std::wstring Text(const CBstr& b) { return b.Get() ? std::wstring(b.Get(), b.Length()) : std::wstring(); }

// A collection index; a VT_I4 variant owns nothing.
VARIANT Index(LONG index) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = index;
  return v;
}

// --- Task Scheduler 1.0 ---

HRESULT Activate(ITaskScheduler* scheduler, const std::wstring& name, CComPtr<ITask>* task) {
  HRESULT hr = scheduler->Activate(name.c_str(), IID_ITask, reinterpret_cast<IUnknown**>(task->Put()));
  // Some schedulers enumerate "x.job" but only activate "x".
  if (FAILED(hr) && EndsWithNoCase(name, L".job"))
    hr = scheduler->Activate(name.substr(0, name.size() - 4).c_str(), IID_ITask, reinterpret_cast<IUnknown**>(task->Put()));
  return hr;
}

void ReportWorkItem(CAutorunAnalyzer& analyzer, ITaskScheduler* scheduler, const wchar_t* name, AutorunRecord& record) {
  CComPtr<ITask> task;
  if (!name || FAILED(Activate(scheduler, name, &task))) return;
  record.entryData.clear();
  record.filePath.clear();
  record.entryName = name;
  if (record.entryName.empty()) return;
  CCoTaskMem<wchar_t> application;
  if (SUCCEEDED(task->GetApplicationName(application.Put())) && application.Get()) {
    record.entryData = application.Get();
    record.filePath = ResolveFilePath(record.entryData);
  }
  CCoTaskMem<wchar_t> parameters;
  if (SUCCEEDED(task->GetParameters(parameters.Put())) && parameters.Get()) {
    const std::wstring arguments = parameters.Get();
    record.entryData += L" " + arguments;
    record.filePath = DllOfRundll32(record.filePath, arguments);
  }
  analyzer.Report(record);
}

void WorkItems(CAutorunAnalyzer& analyzer, AutorunRecord& record) {
  record.itemKey = g_WindowsDir + L"\\Tasks";
  CComPtr<ITaskScheduler> scheduler;
  if (FAILED(::CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                scheduler.PutVoid())))
    return;
  CComPtr<IEnumWorkItems> items;
  if (FAILED(scheduler->Enum(items.Put())) || !items) return;
  while (!analyzer.cancelled) {
    CCoTaskMem<LPWSTR> batch;
    ULONG fetched = 0;
    if (FAILED(items->Next(kBatch, batch.Put(), &fetched)) || fetched == 0 || !batch.Get()) return;
    std::vector<CCoTaskMem<wchar_t>> names;
    for (ULONG i = 0; i < fetched; ++i) names.emplace_back(batch.Get()[i]);
    for (ULONG i = fetched; i-- > 0 && !analyzer.cancelled;) ReportWorkItem(analyzer, scheduler.Get(), names[i].Get(), record);
  }
}

// --- Task Scheduler 2.0 ---

// False when the action is to be skipped.
bool ReadAction(CAutorunAnalyzer& analyzer, IAction* action, AutorunRecord& record) {
  TASK_ACTION_TYPE type;
  if (FAILED(action->get_Type(&type))) return false;
  switch (type) {
    case TASK_ACTION_EXEC: {
      CComPtr<IExecAction> exec;
      CBstr path, arguments;
      if (FAILED(action->QueryInterface(IID_IExecAction, exec.PutVoid())) || FAILED(exec->get_Path(path.Put())))
        return false;
      record.entryData = Text(path);
      record.filePath = ResolveFilePath(record.entryData);
      if (SUCCEEDED(exec->get_Arguments(arguments.Put()))) {
        record.entryData += L" " + Text(arguments);
        record.filePath = DllOfRundll32(record.filePath, Text(arguments));
      }
      return true;
    }
    case TASK_ACTION_COM_HANDLER: {
      CComPtr<IComHandlerAction> handler;
      CBstr clsid;
      if (FAILED(action->QueryInterface(__uuidof(IComHandlerAction), handler.PutVoid())) ||
          FAILED(handler->get_ClassId(clsid.Put())))
        return false;
      record.entryData = L"HKCR\\CLSID\\" + Text(clsid);
      ResolveClsid(analyzer, Text(clsid), &record.filePath, false);
      record.filePath = ResolveFilePath(record.filePath);
      return true;
    }
    case TASK_ACTION_SEND_EMAIL: {
      CComPtr<IEmailAction> email;
      CBstr to, body;
      if (FAILED(action->QueryInterface(__uuidof(IEmailAction), email.PutVoid()))) return false;
      email->get_To(to.Put());
      email->get_Body(body.Put());
      record.entryData = L"Email to " + Text(to) + L": " + Text(body);
      return true;
    }
    case TASK_ACTION_SHOW_MESSAGE: {
      CComPtr<IShowMessageAction> message;
      CBstr title, body;
      if (FAILED(action->QueryInterface(__uuidof(IShowMessageAction), message.PutVoid()))) return false;
      message->get_Title(title.Put());
      message->get_MessageBody(body.Put());
      record.entryData = Text(title) + L": " + Text(body);
      return true;
    }
  }
  return true;  // an unknown kind of action: reported, nothing read
}

void ReportTask(CAutorunAnalyzer& analyzer, IRegisteredTaskCollection* tasks, LONG index, AutorunRecord& record) {
  CComPtr<IRegisteredTask> task;
  CBstr path;
  CComPtr<ITaskDefinition> definition;
  CComPtr<IActionCollection> actions;
  LONG count = 0;
  if (FAILED(tasks->get_Item(Index(index), task.Put())) || !task || FAILED(task->get_Path(path.Put())) ||
      FAILED(task->get_Definition(definition.Put())) || !definition || FAILED(definition->get_Actions(actions.Put())) ||
      !actions || FAILED(actions->get_Count(&count)))
    return;
  record.itemKey = Text(path);
  for (LONG i = 1; i <= count && !analyzer.cancelled; ++i) {
    CComPtr<IAction> action;
    if (FAILED(actions->get_Item(i, action.Put())) || !action) continue;
    record.filePath.clear();
    record.entryData.clear();
    if (ReadAction(analyzer, action.Get(), record)) analyzer.Report(record);
  }
}

void TaskTree(CAutorunAnalyzer& analyzer, AutorunRecord& record) {
  record.itemKey = g_WindowsDir + L"\\system32\\mmc.exe " + g_WindowsDir + L"\\system32\\taskschd.msc";
  CComPtr<ITaskService> service;
  if (FAILED(::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                service.PutVoid())))
    return;
  CVariant server, user, domain, password;  // the local computer, the current user
  if (FAILED(service->Connect(*server.Get(), *user.Get(), *domain.Get(), *password.Get()))) return;
  CComPtr<ITaskFolder> root;
  CBstr rootPath(L"\\");
  if (SUCCEEDED(service->GetFolder(rootPath.Get(), root.Put())) && root) WalkTaskFolder(analyzer, record, root.Get());
}

}  // namespace

std::wstring DllOfRundll32(const std::wstring& filePath, const std::wstring& arguments) {
  if (!EqualsNoCase(filePath, g_WindowsDir + L"\\system32\\rundll32.exe")) return filePath;
  std::wstring rest = arguments;
  for (std::wstring token = NextToken(&rest, L" ,", false); !token.empty(); token = NextToken(&rest, L" ,", false))
    if (EndsWithNoCase(token, L".dll")) return ResolveFilePath(token);
  return filePath;
}

void WalkTaskFolder(CAutorunAnalyzer& analyzer, AutorunRecord& record, ITaskFolder* folder) {
  CComPtr<IRegisteredTaskCollection> tasks;
  LONG count = 0;
  if (SUCCEEDED(folder->GetTasks(TASK_ENUM_HIDDEN, tasks.Put())) && tasks && SUCCEEDED(tasks->get_Count(&count)))
    for (LONG i = 1; i <= count && !analyzer.cancelled; ++i) ReportTask(analyzer, tasks.Get(), i, record);
  CComPtr<ITaskFolderCollection> folders;
  if (FAILED(folder->GetFolders(0, folders.Put())) || !folders || FAILED(folders->get_Count(&count))) return;
  for (LONG i = 1; i <= count && !analyzer.cancelled; ++i) {
    CComPtr<ITaskFolder> subfolder;
    if (SUCCEEDED(folders->get_Item(Index(i), subfolder.Put())) && subfolder)
      WalkTaskFolder(analyzer, record, subfolder.Get());
  }
}

void AnalyzeTaskScheduler(CAutorunAnalyzer& analyzer) {
  AutorunRecord record;
  record.category = kTaskCategory;
  record.location = L"Task Scheduler";
  const HRESULT init = ::CoInitialize(nullptr);
  // A thread already in another apartment still serves the calls; only our own initialisation is undone.
  if (FAILED(init) && init != RPC_E_CHANGED_MODE) return;
  if (!IsOsAtLeast(6, 0, 0))
    WorkItems(analyzer, record);
  else
    TaskTree(analyzer, record);
  if (SUCCEEDED(init)) ::CoUninitialize();
}

}  // namespace kal
