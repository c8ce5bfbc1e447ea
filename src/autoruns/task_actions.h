// Task Scheduler 2.0 action interfaces that the system headers of this tool chain do not declare.
#pragma once

#include <taskschd.h>

// Declared in the global namespace, as the system would declare them.
struct IComHandlerAction : public IAction {
  virtual HRESULT STDMETHODCALLTYPE get_ClassId(BSTR* clsid) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ClassId(BSTR clsid) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Data(BSTR* data) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Data(BSTR data) = 0;
};

struct IEmailAction : public IAction {
  virtual HRESULT STDMETHODCALLTYPE get_Server(BSTR* server) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Server(BSTR server) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Subject(BSTR* subject) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Subject(BSTR subject) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_To(BSTR* to) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_To(BSTR to) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Cc(BSTR* cc) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Cc(BSTR cc) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Bcc(BSTR* bcc) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Bcc(BSTR bcc) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ReplyTo(BSTR* replyTo) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ReplyTo(BSTR replyTo) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_From(BSTR* from) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_From(BSTR from) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_HeaderFields(IDispatch** fields) = 0;  // a named-value collection
  virtual HRESULT STDMETHODCALLTYPE put_HeaderFields(IDispatch* fields) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Body(BSTR* body) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Body(BSTR body) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Attachments(VARIANT* attachments) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Attachments(VARIANT attachments) = 0;
};

struct IShowMessageAction : public IAction {
  virtual HRESULT STDMETHODCALLTYPE get_Title(BSTR* title) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Title(BSTR title) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_MessageBody(BSTR* body) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_MessageBody(BSTR body) = 0;
};

__CRT_UUID_DECL(IComHandlerAction, 0x6d2fd252, 0x75c5, 0x4f66, 0x90, 0xba, 0x2a, 0x7d, 0x8c, 0xc3, 0x03, 0x9f)
__CRT_UUID_DECL(IEmailAction, 0x10f62c64, 0x7e16, 0x4314, 0xa0, 0xc2, 0x0c, 0x36, 0x83, 0xf9, 0x9d, 0x40)
__CRT_UUID_DECL(IShowMessageAction, 0x505e9e68, 0xaf89, 0x46b8, 0xa3, 0x0f, 0x56, 0x16, 0x2a, 0x83, 0xd5, 0x37)
