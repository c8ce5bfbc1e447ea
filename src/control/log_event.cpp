// LogEvent: console line and event-log entry.
#include "control/log_event.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "support/handles.h"

namespace kal {
namespace {

bool g_runAsService = false;
std::function<void(const std::wstring&)>& Observer() {
  static std::function<void(const std::wstring&)> observer;
  return observer;
}

}  // namespace

void SetLogEventRunAsService(bool runAsService) { g_runAsService = runAsService; }

void SetLogEventObserver(std::function<void(const std::wstring&)> observer) { Observer() = std::move(observer); }

void LogEvent(const wchar_t* format, ...) {
  // Formatted in full first (paths may be long), then cut to the 255 characters kept.
  std::vector<wchar_t> buffer(65536);
  va_list args;
  va_start(args, format);
  const int n = std::vswprintf(buffer.data(), buffer.size(), format, args);
  va_end(args);
  if (n < 0) buffer[0] = 0;
  buffer[255] = 0;
  const wchar_t* text = buffer.data();

  if (Observer()) Observer()(text);
  if (!g_runAsService) {
    std::wprintf(L"%ls\n", text);
    std::fflush(stdout);
  }
  CEventSource source(::RegisterEventSourceW(nullptr, L"vantorag"));
  if (source) {
    const wchar_t* strings[1] = {text};
    ::ReportEventW(source.Get(), EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
  }
}

}  // namespace kal
