// Service registration messages: string table lookup and the message box.
#include "control/service_messages.h"

namespace kal {
namespace {

struct Fallback {
  UINT Id;
  const wchar_t* Text;
};

const Fallback kFallbacks[] = {
    {kMsgCouldNotOpenManager, L"Could not open Service Manager"},
    {kMsgCouldNotStartService, L"Could not start service"},
    {kMsgCouldNotOpenService, L"Could not open service"},
    {kMsgCouldNotDeleteService, L"Could not delete service"},
    {kMsgCouldNotStopService, L"Could not stop service"},
};

std::function<void(const std::wstring&)>& Observer() {
  static std::function<void(const std::wstring&)> observer;
  return observer;
}

}  // namespace

std::wstring ServiceMessageText(UINT id) {
  // With a zero length LoadStringW hands out a read-only pointer to the resource text itself.
  const wchar_t* resource = nullptr;
  const int length = ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&resource), 0);
  if (length > 0 && resource) return std::wstring(resource, static_cast<size_t>(length));
  for (const Fallback& f : kFallbacks)
    if (f.Id == id) return f.Text;
  return std::wstring();
}

void ShowServiceMessage(UINT id, const std::wstring& serviceName) {
  const std::wstring text = ServiceMessageText(id);
  if (Observer()) {
    Observer()(text);
    return;
  }
  ::MessageBoxW(nullptr, text.c_str(), serviceName.c_str(), MB_OK);
}

void SetServiceMessageObserver(std::function<void(const std::wstring&)> observer) { Observer() = std::move(observer); }

}  // namespace kal
