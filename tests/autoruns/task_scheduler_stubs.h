// Do-nothing implementations of the Task Scheduler 2.0 interfaces the folder walk uses: every
// method fails with E_NOTIMPL until a test overrides it. Objects count their references, so a
// test can tell that every interface handed out was released.
#pragma once

#include <taskschd.h>

#include "autoruns/task_actions.h"

namespace kal {
namespace test {

// Stubs alive now, in every test of the program.
inline int g_liveStubs = 0;

template <typename I, typename... More>
class CDispatchStub : public I {
 public:
  CDispatchStub() { ++g_liveStubs; }
  virtual ~CDispatchStub() { --g_liveStubs; }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(I) || ((iid == __uuidof(More)) || ...)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

 private:
  ULONG refs_ = 1;
};

template <typename I = ITaskFolder, typename... More>
class CStubTaskFolder : public CDispatchStub<I, More...> {
 public:
  HRESULT STDMETHODCALLTYPE get_Name(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Path(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFolder(BSTR, ITaskFolder **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetFolders(LONG, ITaskFolderCollection **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateFolder(BSTR, VARIANT, ITaskFolder **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteFolder(BSTR, LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTask(BSTR, IRegisteredTask **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTasks(LONG, IRegisteredTaskCollection **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteTask(BSTR, LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterTask(BSTR, BSTR, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE, VARIANT, IRegisteredTask **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RegisterTaskDefinition(BSTR, ITaskDefinition *, LONG, VARIANT, VARIANT, TASK_LOGON_TYPE, VARIANT, IRegisteredTask **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSecurityDescriptor(LONG, BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSecurityDescriptor(BSTR, LONG) override { return E_NOTIMPL; }
};

template <typename I = ITaskFolderCollection, typename... More>
class CStubTaskFolderCollection : public CDispatchStub<I, More...> {
 public:
  HRESULT STDMETHODCALLTYPE get_Count(LONG *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT, ITaskFolder **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown **) override { return E_NOTIMPL; }
};

template <typename I = IRegisteredTaskCollection, typename... More>
class CStubRegisteredTaskCollection : public CDispatchStub<I, More...> {
 public:
  HRESULT STDMETHODCALLTYPE get_Count(LONG *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT, IRegisteredTask **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown **) override { return E_NOTIMPL; }
};

template <typename I = IRegisteredTask, typename... More>
class CStubRegisteredTask : public CDispatchStub<I, More...> {
 public:
  HRESULT STDMETHODCALLTYPE get_Name(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Path(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_State(TASK_STATE *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Enabled(VARIANT_BOOL *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Enabled(VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Run(VARIANT, IRunningTask **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RunEx(VARIANT, LONG, LONG, BSTR, IRunningTask **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetInstances(LONG, IRunningTaskCollection **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_LastRunTime(DATE *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_LastTaskResult(LONG *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_NumberOfMissedRuns(LONG *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_NextRunTime(DATE *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Definition(ITaskDefinition **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Xml(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetSecurityDescriptor(LONG, BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSecurityDescriptor(BSTR, LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Stop(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetRunTimes(const LPSYSTEMTIME, const LPSYSTEMTIME, DWORD *, LPSYSTEMTIME *) override { return E_NOTIMPL; }
};

template <typename I = ITaskDefinition, typename... More>
class CStubTaskDefinition : public CDispatchStub<I, More...> {
 public:
  HRESULT STDMETHODCALLTYPE get_RegistrationInfo(IRegistrationInfo **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_RegistrationInfo(IRegistrationInfo *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Triggers(ITriggerCollection **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Triggers(ITriggerCollection *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Settings(ITaskSettings **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Settings(ITaskSettings *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Data(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Data(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Principal(IPrincipal **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Principal(IPrincipal *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Actions(IActionCollection **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Actions(IActionCollection *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_XmlText(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_XmlText(BSTR) override { return E_NOTIMPL; }
};

template <typename I = IActionCollection, typename... More>
class CStubActionCollection : public CDispatchStub<I, More...> {
 public:
  HRESULT STDMETHODCALLTYPE get_Count(LONG *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Item(LONG, IAction **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_XmlText(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_XmlText(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Create(TASK_ACTION_TYPE, IAction **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Remove(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clear() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Context(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Context(BSTR) override { return E_NOTIMPL; }
};

template <typename I = IAction, typename... More>
class CStubAction : public CDispatchStub<I, More...> {
 public:
  HRESULT STDMETHODCALLTYPE get_Id(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Id(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE *) override { return E_NOTIMPL; }
};

template <typename I = IExecAction, typename... More>
class CStubExecAction : public CDispatchStub<I, More...> {
 public:
  HRESULT STDMETHODCALLTYPE get_Id(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Id(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Path(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Path(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Arguments(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Arguments(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_WorkingDirectory(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_WorkingDirectory(BSTR) override { return E_NOTIMPL; }
};

template <typename I = IComHandlerAction, typename... More>
class CStubComHandlerAction : public CDispatchStub<I, More...> {
 public:
  HRESULT STDMETHODCALLTYPE get_Id(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Id(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ClassId(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ClassId(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Data(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Data(BSTR) override { return E_NOTIMPL; }
};

template <typename I = IShowMessageAction, typename... More>
class CStubShowMessageAction : public CDispatchStub<I, More...> {
 public:
  HRESULT STDMETHODCALLTYPE get_Id(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Id(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Title(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Title(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_MessageBody(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_MessageBody(BSTR) override { return E_NOTIMPL; }
};

template <typename I = IEmailAction, typename... More>
class CStubEmailAction : public CDispatchStub<I, More...> {
 public:
  HRESULT STDMETHODCALLTYPE get_Id(BSTR *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Id(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE *) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Server(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Server(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Subject(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Subject(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_To(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_To(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Cc(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Cc(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Bcc(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Bcc(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ReplyTo(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ReplyTo(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_From(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_From(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_HeaderFields(IDispatch**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_HeaderFields(IDispatch*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Body(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Body(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Attachments(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Attachments(VARIANT) override { return E_NOTIMPL; }
};

}  // namespace test
}  // namespace kal
