// Scheduled tasks: the 2.0 folder walk over in-process task objects, the rundll32 rule, and the
// 1.0 branch over real work items when the system presents itself as a version before 6.
#include "autoruns/task_scheduler.h"

#include <mstask.h>

#include <memory>
#include <vector>

#include "analyzer_fixture.h"
#include "autoruns/os_version.h"
#include "support/handles.h"
#include "task_scheduler_stubs.h"

namespace kal {
namespace {

using test::g_liveStubs;

HRESULT Out(const std::wstring& text, BSTR* out) {
  *out = ::SysAllocString(text.c_str());
  return S_OK;
}

template <typename T>
HRESULT Hand(const CComPtr<T>& item, T** out) {
  if (!item) return E_FAIL;
  item->AddRef();
  *out = item.Get();
  return S_OK;
}

// VT_I4, 1-based, as the scheduler's collections are indexed.
template <typename T>
HRESULT HandAt(const std::vector<CComPtr<T>>& items, LONG index, T** out) {
  if (index < 1 || index > static_cast<LONG>(items.size())) return E_INVALIDARG;
  return Hand(items[index - 1], out);
}

class CExec : public test::CStubExecAction<IExecAction, IAction> {
 public:
  CExec(std::wstring path, std::wstring args, bool argsReadable = true)
      : path_(std::move(path)), args_(std::move(args)), argsReadable_(argsReadable) {}
  HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) override { return *type = TASK_ACTION_EXEC, S_OK; }
  HRESULT STDMETHODCALLTYPE get_Path(BSTR* out) override { return Out(path_, out); }
  HRESULT STDMETHODCALLTYPE get_Arguments(BSTR* out) override { return argsReadable_ ? Out(args_, out) : E_FAIL; }

 private:
  std::wstring path_, args_;
  bool argsReadable_;
};

class CEmail : public test::CStubEmailAction<IEmailAction, IAction> {
 public:
  HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) override { return *type = TASK_ACTION_SEND_EMAIL, S_OK; }
  HRESULT STDMETHODCALLTYPE get_To(BSTR* out) override { return Out(L"ops@example.org", out); }
  HRESULT STDMETHODCALLTYPE get_Body(BSTR* out) override { return Out(L"done", out); }
};

class CMessage : public test::CStubShowMessageAction<IShowMessageAction, IAction> {
 public:
  HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) override { return *type = TASK_ACTION_SHOW_MESSAGE, S_OK; }
  HRESULT STDMETHODCALLTYPE get_Title(BSTR* out) override { return Out(L"Hello", out); }
  HRESULT STDMETHODCALLTYPE get_MessageBody(BSTR* out) override { return Out(L"world", out); }
};

class CHandler : public test::CStubComHandlerAction<IComHandlerAction, IAction> {
 public:
  explicit CHandler(std::wstring clsid) : clsid_(std::move(clsid)) {}
  HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) override { return *type = TASK_ACTION_COM_HANDLER, S_OK; }
  HRESULT STDMETHODCALLTYPE get_ClassId(BSTR* out) override { return Out(clsid_, out); }

 private:
  std::wstring clsid_;
};

// A kind of action this code does not know, and one whose kind can't be read.
class COddAction : public test::CStubAction<> {
 public:
  explicit COddAction(bool readable) : readable_(readable) {}
  HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) override {
    return readable_ ? (*type = static_cast<TASK_ACTION_TYPE>(9), S_OK) : E_FAIL;
  }

 private:
  bool readable_;
};

class CActions : public test::CStubActionCollection<> {
 public:
  std::vector<CComPtr<IAction>> items;
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override { return *count = static_cast<LONG>(items.size()), S_OK; }
  HRESULT STDMETHODCALLTYPE get_Item(LONG index, IAction** out) override { return HandAt(items, index, out); }
};

class CDefinition : public test::CStubTaskDefinition<> {
 public:
  CComPtr<IActionCollection> actions;
  HRESULT STDMETHODCALLTYPE get_Actions(IActionCollection** out) override { return Hand(actions, out); }
};

class CTask : public test::CStubRegisteredTask<> {
 public:
  CTask(std::wstring path, std::vector<IAction*> actions) : path_(std::move(path)) {
    if (actions.empty()) return;  // a task whose definition can't be read
    auto* collection = new CActions;
    for (IAction* a : actions) collection->items.emplace_back(a);
    auto* definition = new CDefinition;
    definition->actions.Reset(collection);
    definition_.Reset(definition);
  }
  HRESULT STDMETHODCALLTYPE get_Path(BSTR* out) override { return Out(path_, out); }
  HRESULT STDMETHODCALLTYPE get_Definition(ITaskDefinition** out) override { return Hand(definition_, out); }

 private:
  std::wstring path_;
  CComPtr<ITaskDefinition> definition_;
};

class CTasks : public test::CStubRegisteredTaskCollection<> {
 public:
  std::vector<CComPtr<IRegisteredTask>> items;
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override { return *count = static_cast<LONG>(items.size()), S_OK; }
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, IRegisteredTask** out) override {
    return index.vt == VT_I4 ? HandAt(items, index.lVal, out) : E_INVALIDARG;
  }
};

class CFolders;

// A folder whose hidden tasks are handed out only when asked for.
class CFolder : public test::CStubTaskFolder<> {
 public:
  std::vector<IRegisteredTask*> visible, hidden;
  std::vector<ITaskFolder*> subfolders;
  bool tasksFail = false;
  ~CFolder() override {
    for (auto* t : visible) t->Release();
    for (auto* t : hidden) t->Release();
    for (auto* f : subfolders) f->Release();
  }
  HRESULT STDMETHODCALLTYPE GetTasks(LONG flags, IRegisteredTaskCollection** out) override;
  HRESULT STDMETHODCALLTYPE GetFolders(LONG flags, ITaskFolderCollection** out) override;
};

class CFolders : public test::CStubTaskFolderCollection<> {
 public:
  std::vector<CComPtr<ITaskFolder>> items;
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override { return *count = static_cast<LONG>(items.size()), S_OK; }
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT index, ITaskFolder** out) override {
    return index.vt == VT_I4 ? HandAt(items, index.lVal, out) : E_INVALIDARG;
  }
};

HRESULT CFolder::GetTasks(LONG flags, IRegisteredTaskCollection** out) {
  if (tasksFail) return E_ACCESSDENIED;
  auto* tasks = new CTasks;
  for (auto* t : visible) t->AddRef(), tasks->items.emplace_back(t);
  if (flags & TASK_ENUM_HIDDEN)
    for (auto* t : hidden) t->AddRef(), tasks->items.emplace_back(t);
  *out = tasks;
  return S_OK;
}

HRESULT CFolder::GetFolders(LONG flags, ITaskFolderCollection** out) {
  if (flags != 0) return E_INVALIDARG;
  auto* folders = new CFolders;
  for (auto* f : subfolders) f->AddRef(), folders->items.emplace_back(f);
  *out = folders;
  return S_OK;
}

class TaskFolderWalkTest : public test::AnalyzerTest {
 protected:
  void TearDown() override { EXPECT_EQ(0, g_liveStubs) << "a task object was not released"; }

  std::vector<AutorunRecord> Walk(ITaskFolder* root) {
    test::CRecordingAnalyzer analyzer;
    EXPECT_EQ(S_OK, analyzer.Init(L"", test::kTestSid, Bindings()));
    AutorunRecord record;
    record.category = 3;
    record.location = L"Task Scheduler";
    WalkTaskFolder(analyzer, record, root);
    return analyzer.records;
  }

  static std::wstring System32(const std::wstring& name) { return g_WindowsDir + L"\\System32\\" + name; }
};

TEST_F(TaskFolderWalkTest, EveryActionOfEveryTaskInEveryFolderIsReported) {
  const std::wstring app = File(L"app.exe");
  const std::wstring server = File(L"handler.dll");
  const std::wstring clsid = L"{11111111-2222-3333-4444-555555555555}";
  key.SetString(L"Software\\Classes\\CLSID\\" + clsid, nullptr, L"Handler");
  key.SetString(L"Software\\Classes\\CLSID\\" + clsid + L"\\InprocServer32", nullptr, server);

  auto* root = new CFolder;
  root->visible.push_back(new CTask(L"\\Mail", {new CExec(app, L"-q"), new CEmail}));
  root->hidden.push_back(new CTask(L"\\Hidden", {new CExec(g_WindowsDir + L"\\system32\\rundll32.exe", L"shell32.dll,Control_RunDLL")}));
  root->visible.push_back(new CTask(L"\\NoDefinition", {}));
  auto* sub = new CFolder;
  sub->visible.push_back(new CTask(L"\\Sub\\Mixed", {new CMessage, new CHandler(clsid), new COddAction(true),
                                                      new COddAction(false), new CExec(L"rundll32.exe", L"nodll", false)}));
  auto* deeper = new CFolder;
  deeper->tasksFail = true;  // its own tasks can't be listed; its subfolders still are
  auto* deepest = new CFolder;
  deepest->visible.push_back(new CTask(L"\\Sub\\Deeper\\Deepest\\Last", {new CExec(app, L"")}));
  deeper->subfolders.push_back(deepest);
  sub->subfolders.push_back(deeper);
  root->subfolders.push_back(sub);

  const auto records = Walk(root);
  root->Release();

  struct Expected {
    const wchar_t* itemKey;
    std::wstring filePath;
    std::wstring entryData;
  };
  const std::wstring rundll32 = g_WindowsDir + L"\\system32\\rundll32.exe";
  const Expected expected[] = {
      {L"\\Mail", app, app + L" -q"},
      {L"\\Mail", L"", L"Email to ops@example.org: done"},                 // no file: the frame drops it
      {L"\\Hidden", System32(L"shell32.dll"), rundll32 + L" shell32.dll,Control_RunDLL"},
      {L"\\Sub\\Mixed", L"", L"Hello: world"},
      {L"\\Sub\\Mixed", server, L"HKCR\\CLSID\\" + clsid},
      {L"\\Sub\\Mixed", L"", L""},                                          // unknown kind: reported, nothing read
      {L"\\Sub\\Mixed", System32(L"rundll32.exe"), L"rundll32.exe"},        // arguments unreadable
      {L"\\Sub\\Deeper\\Deepest\\Last", app, app + L" "},
  };
  ASSERT_EQ(std::size(expected), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(expected[i].itemKey, records[i].itemKey);
    EXPECT_PATH_EQ(expected[i].filePath, records[i].filePath);
    EXPECT_EQ(expected[i].entryData, records[i].entryData);
    EXPECT_EQ(3, records[i].category);
    EXPECT_EQ(L"Task Scheduler", records[i].location);
  }
}

TEST_F(TaskFolderWalkTest, Rundll32StandsForTheDllItLoads) {
  const std::wstring rundll32 = g_WindowsDir + L"\\system32\\rundll32.exe";
  const std::wstring other = File(L"other.exe");
  struct Case {
    std::wstring filePath, arguments, expected;
  } cases[] = {
      {rundll32, L"shell32.dll,Control_RunDLL", System32(L"shell32.dll")},
      {g_WindowsDir + L"\\SYSTEM32\\RUNDLL32.EXE", L"  ,shell32.dll Control_RunDLL", System32(L"shell32.dll")},
      {rundll32, L"\"quoted.dll\",Entry nothere.dll", L"Nothere.dll"},  // not quote-aware; unknown names kept
      {rundll32, L"url,FileProtocolHandler", rundll32},
      {rundll32, L"", rundll32},
      {other, L"shell32.dll,Control_RunDLL", other},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(test::Narrow(c.arguments));
    EXPECT_PATH_EQ(c.expected, DllOfRundll32(c.filePath, c.arguments));
  }
}

// --- Task Scheduler 1.0, real work items ---

// Runs the tests of the XP suite in a child of this program that the system tells it is XP.
class CXpVersion {
 public:
  explicit CXpVersion(const std::wstring& exeName) : key_(L"Software\\Wine\\AppDefaults\\" + exeName) {
    ::RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, opened_.Put(), nullptr);
    const wchar_t xp[] = L"winxp";
    if (opened_) ::RegSetValueExW(opened_.Get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(xp), sizeof(xp));
  }
  ~CXpVersion() {
    opened_.Reset();
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str());
  }

 private:
  std::wstring key_;
  CRegKey opened_;
};

// The 1.0 interfaces talk to the scheduler service; a fresh prefix does not start it by itself.
void StartScheduleService() {
  CServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  ASSERT_TRUE(manager);
  CServiceHandle service(::OpenServiceW(manager.Get(), L"Schedule", SERVICE_START | SERVICE_QUERY_STATUS));
  ASSERT_TRUE(service);
  ::StartServiceW(service.Get(), 0, nullptr);
  SERVICE_STATUS status{};
  for (int i = 0; i < 100 && ::QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_RUNNING; ++i)
    ::Sleep(100);
  ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
}

class CWorkItem {
 public:
  CWorkItem(ITaskScheduler* scheduler, const std::wstring& name, const std::wstring& app, const std::wstring& params)
      : scheduler_(scheduler), name_(name) {
    CComPtr<ITask> task;
    EXPECT_EQ(S_OK, scheduler->NewWorkItem(name.c_str(), CLSID_CTask, IID_ITask, reinterpret_cast<IUnknown**>(task.Put())));
    if (!task) return;
    EXPECT_EQ(S_OK, task->SetApplicationName(app.c_str()));
    EXPECT_EQ(S_OK, task->SetParameters(params.c_str()));
    CComPtr<IPersistFile> file;
    EXPECT_EQ(S_OK, task.As(&file));
    if (file) {
      EXPECT_EQ(S_OK, file->Save(nullptr, TRUE));
    }
  }
  ~CWorkItem() { scheduler_->Delete(name_.c_str()); }

 private:
  ITaskScheduler* scheduler_;
  std::wstring name_;
};

TEST(TaskSchedulerXp, OlderSystemsListTheirWorkItemsAndHaveNoSidebar) {
  InitPathContext();
  if (IsOsAtLeast(6, 0, 0)) {
    // Run this test again in a child that the system tells it is XP.
    wchar_t self[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
    const std::wstring exe = FileNameOf(self, false);
    CXpVersion xp(exe);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=TaskSchedulerXp.*";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CKernelHandle process(pi.hProcess), thread(pi.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.Get(), 120000));
    DWORD code = 1;
    ::GetExitCodeProcess(process.Get(), &code);
    EXPECT_EQ(0u, code) << "the XP run failed; its output is above";
    return;
  }
  ASSERT_NO_FATAL_FAILURE(StartScheduleService());
  CComInit com;
  ASSERT_TRUE(SUCCEEDED(com.Initialize(COINIT_APARTMENTTHREADED)));
  CComPtr<ITaskScheduler> scheduler;
  ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                     scheduler.PutVoid()));
  test::CTempDir temp;
  const std::wstring app = ResolveFilePath(temp.WriteFile(L"tool.exe", "MZ"));
  const std::wstring rundll32 = g_WindowsDir + L"\\system32\\rundll32.exe";
  {
    CWorkItem plain(scheduler.Get(), L"vantorag test plain", app, L"/now");
    CWorkItem dll(scheduler.Get(), L"vantorag test dll", rundll32, L"shell32.dll,Control_RunDLL");
    struct : CAutorunAnalyzer {
      void OnAutorunFound(const AutorunRecord& r) override { records.push_back(r); }
      std::vector<AutorunRecord> records;
    } analyzer;
    ASSERT_EQ(S_OK, analyzer.Init(L"", test::kTestSid));
    ASSERT_EQ(S_OK, analyzer.RunCategory(3));
    ASSERT_EQ(S_OK, analyzer.RunCategory(16));
    const AutorunRecord* plainRecord = nullptr;
    const AutorunRecord* dllRecord = nullptr;
    for (const AutorunRecord& r : analyzer.records) {
      EXPECT_EQ(3, r.category);  // the sidebar reports nothing
      EXPECT_EQ(L"Task Scheduler", r.location);
      EXPECT_EQ(g_WindowsDir + L"\\Tasks", r.itemKey);
      if (StartsWithNoCase(r.entryName, L"vantorag test plain")) plainRecord = &r;
      if (StartsWithNoCase(r.entryName, L"vantorag test dll")) dllRecord = &r;
    }
    ASSERT_TRUE(plainRecord && dllRecord);
    EXPECT_PATH_EQ(app, plainRecord->filePath);
    EXPECT_PATH_EQ(app + L" /now", plainRecord->entryData);
    EXPECT_PATH_EQ(g_WindowsDir + L"\\System32\\shell32.dll", dllRecord->filePath);
  }
  g_ShellLink.Reset();
}

}  // namespace
}  // namespace kal
