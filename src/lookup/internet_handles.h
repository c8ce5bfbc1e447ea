// Thin WinINet wrappers: each owns one handle and throws CInternetException when a call fails,
// so that the HTTP client reads as its steps; the client's callers turn the throw into an
// HRESULT.
#pragma once

#include <string>
#include <vector>

#include "support/internet_handle.h"

namespace kal {
namespace inet {

// A WinINet failure, with what the server last said when it said anything.
class CInternetException {
 public:
  // Takes GetLastError and the last response info at once, so construct it right after the call.
  CInternetException(HINTERNET handle, std::wstring message);

  HINTERNET Handle;
  DWORD Error;
  DWORD ResponseError;
  std::wstring Message;
  std::wstring ResponseText;  // "Unknown error" when the server sent none
};

class CInternetHandle {
 public:
  CInternetHandle(const CInternetHandle&) = delete;
  CInternetHandle& operator=(const CInternetHandle&) = delete;
  virtual ~CInternetHandle() = default;

  HINTERNET Get() const { return handle_.Get(); }
  void SetOption(DWORD option, const void* data, DWORD size);
  void SetDwordOption(DWORD option, DWORD value) { SetOption(option, &value, sizeof(value)); }
  void SetStringOption(DWORD option, const std::wstring& value);
  void QueryOption(DWORD option, void* data, DWORD* size) const;
  DWORD QueryDwordOption(DWORD option) const;

 protected:
  CInternetHandle() = default;
  // Owns `handle`; throws with `failure` when it is null.
  void Attach(HINTERNET handle, const std::wstring& failure);

 private:
  CInternetHandleOwner handle_;
};

class CInternetSession : public CInternetHandle {
 public:
  // A null agent means the program's file name without folder and extension.
  CInternetSession(const wchar_t* agent, DWORD accessType, const wchar_t* proxy, const wchar_t* bypass, DWORD flags);
};

class CInternetConnection : public CInternetHandle {
 public:
  CInternetConnection(const CInternetSession& session, const std::wstring& server, INTERNET_PORT port,
                      const wchar_t* user, const wchar_t* password, DWORD service, DWORD flags);
};

class CHttpConnection : public CInternetConnection {
 public:
  CHttpConnection(const CInternetSession& session, const std::wstring& server, INTERNET_PORT port,
                  const wchar_t* user, const wchar_t* password, DWORD flags)
      : CInternetConnection(session, server, port, user, password, INTERNET_SERVICE_HTTP, flags) {}
};

class CInternetFile : public CInternetHandle {
 public:
  // Up to `size` bytes; 0 at the end of the data.
  DWORD Read(void* buffer, DWORD size);
};

class CHttpFile : public CInternetFile {
 public:
  // Accept types default to "*/*" alone. The request ignores the offline state.
  CHttpFile(const CHttpConnection& connection, const std::wstring& verb, const std::wstring& object,
            const wchar_t* version, const wchar_t* referrer, const wchar_t** acceptTypes, DWORD flags);

  void Send(const std::wstring& headers, const void* body, DWORD bodySize);
  DWORD QueryNumber(DWORD info);
  // The header text, at most `maxChars` characters; false when the server sent none.
  bool QueryText(DWORD info, size_t maxChars, std::wstring* text);
};

}  // namespace inet
}  // namespace kal
