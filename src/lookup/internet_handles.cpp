// The WinINet wrappers and the exception they throw.
#include "lookup/internet_handles.h"

#include <cstdarg>
#include <cwchar>

namespace kal {
namespace inet {
namespace {

std::wstring Format(const wchar_t* format, ...) {
  wchar_t text[512];
  va_list args;
  va_start(args, format);
  std::vswprintf(text, 512, format, args);
  va_end(args);
  text[511] = 0;
  return text;
}

std::wstring ProgramName() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  path[MAX_PATH - 1] = 0;
  std::wstring name(path);
  const size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.erase(dot);
  return name;
}

}  // namespace

CInternetException::CInternetException(HINTERNET handle, std::wstring message)
    : Handle(handle), Error(::GetLastError()), ResponseError(0), Message(std::move(message)) {
  wchar_t text[1024] = {};
  DWORD length = 1024;
  if (::InternetGetLastResponseInfoW(&ResponseError, text, &length)) {
    text[1023] = 0;
    ResponseText = text;  // the length may count a terminator
  }
  if (ResponseText.empty()) ResponseText = L"Unknown error";
}

void CInternetHandle::Attach(HINTERNET handle, const std::wstring& failure) {
  if (!handle) {
    const DWORD error = ::GetLastError();  // before anything else can change it
    CInternetException e(nullptr, failure);
    e.Error = error;
    throw e;
  }
  handle_.Reset(handle);
}

void CInternetHandle::SetOption(DWORD option, const void* data, DWORD size) {
  if (!::InternetSetOptionW(Get(), option, const_cast<void*>(data), size))
    throw CInternetException(Get(), Format(L"Failed to set an internet option (%u)", static_cast<unsigned>(option)));
}

void CInternetHandle::SetStringOption(DWORD option, const std::wstring& value) {
  SetOption(option, value.c_str(), static_cast<DWORD>(value.size()));
}

void CInternetHandle::QueryOption(DWORD option, void* data, DWORD* size) const {
  if (!::InternetQueryOptionW(Get(), option, data, size))
    throw CInternetException(Get(), Format(L"Failed to query an internet option (%u)", static_cast<unsigned>(option)));
}

DWORD CInternetHandle::QueryDwordOption(DWORD option) const {
  DWORD value = 0, size = sizeof(value);
  QueryOption(option, &value, &size);
  return value;
}

CInternetSession::CInternetSession(const wchar_t* agent, DWORD accessType, const wchar_t* proxy,
                                   const wchar_t* bypass, DWORD flags) {
  const std::wstring name = agent ? std::wstring(agent) : ProgramName();
  Attach(::InternetOpenW(name.c_str(), accessType, proxy, bypass, flags), L"Failed to open an internet session");
}

CInternetConnection::CInternetConnection(const CInternetSession& session, const std::wstring& server,
                                         INTERNET_PORT port, const wchar_t* user, const wchar_t* password,
                                         DWORD service, DWORD flags) {
  Attach(::InternetConnectW(session.Get(), server.c_str(), port, user, password, service, flags,
                            reinterpret_cast<DWORD_PTR>(this)),
         Format(L"Failed to connect to server (%ls:%u)", server.c_str(), static_cast<unsigned>(port)));
}

DWORD CInternetFile::Read(void* buffer, DWORD size) {
  DWORD read = 0;
  if (!::InternetReadFile(Get(), buffer, size, &read))
    throw CInternetException(Get(), Format(L"Failed to read from network (%u bytes)", static_cast<unsigned>(size)));
  return read;
}

CHttpFile::CHttpFile(const CHttpConnection& connection, const std::wstring& verb, const std::wstring& object,
                     const wchar_t* version, const wchar_t* referrer, const wchar_t** acceptTypes, DWORD flags) {
  const wchar_t* anything[] = {L"*/*", nullptr};
  Attach(::HttpOpenRequestW(connection.Get(), verb.c_str(), object.c_str(), version, referrer,
                            acceptTypes ? acceptTypes : anything, flags, reinterpret_cast<DWORD_PTR>(this)),
         Format(L"Failed to open http request (%ls %ls)", verb.c_str(), object.c_str()));
  SetOption(INTERNET_OPTION_IGNORE_OFFLINE, nullptr, 0);
}

void CHttpFile::Send(const std::wstring& headers, const void* body, DWORD bodySize) {
  if (!::HttpSendRequestW(Get(), headers.empty() ? nullptr : headers.c_str(), static_cast<DWORD>(headers.size()),
                          const_cast<void*>(body), bodySize))
    throw CInternetException(Get(), L"Failed to send http request");
}

DWORD CHttpFile::QueryNumber(DWORD info) {
  DWORD value = 0, size = sizeof(value);
  if (!::HttpQueryInfoW(Get(), info | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr))
    throw CInternetException(Get(), Format(L"Failed to query http info (%u)", static_cast<unsigned>(info | HTTP_QUERY_FLAG_NUMBER)));
  return value;
}

bool CHttpFile::QueryText(DWORD info, size_t maxChars, std::wstring* text) {
  std::vector<wchar_t> buffer(maxChars + 1, 0);
  DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (!::HttpQueryInfoW(Get(), info, buffer.data(), &size, nullptr)) return false;
  text->assign(buffer.data(), size / sizeof(wchar_t));
  return true;
}

}  // namespace inet
}  // namespace kal
