// Formatting and writing of the state file.
#include "control/state_file.h"

#include <cwchar>

#include "support/handles.h"
#include "support/hresult.h"

namespace kal {
namespace {

struct WriteTask {
  const std::wstring* path;
  const std::wstring* line;
  HRESULT result;
};

DWORD WINAPI WriteTaskMain(void* param) {
  auto* task = static_cast<WriteTask*>(param);
  CFileHandle file(::CreateFileW(task->path->c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    task->result = HResultFromLastError();
    return 0;
  }
  // The line's code units and the terminating NUL are part of the file.
  const DWORD bytes = static_cast<DWORD>((task->line->size() + 1) * sizeof(wchar_t));
  DWORD written = 0;
  if (!::WriteFile(file.Get(), task->line->c_str(), bytes, &written, nullptr)) {
    task->result = HResultFromLastError();
  } else {
    task->result = written == bytes ? S_OK : HResultFromWin32(ERROR_WRITE_FAULT);
  }
  return 0;
}

int64_t WallClockSeconds() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  const uint64_t ticks = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
}

}  // namespace

std::wstring FormatStateLine(const StateRecord& s) {
  wchar_t text[512];
  std::swprintf(text, 512, L"%d;%d;%lld;%d;%lld;%d;%d;%d;%d;%d;%d;%d;%d;", s.Phase,
                static_cast<int32_t>(s.FilesFound), static_cast<long long>(s.BytesFound),
                static_cast<int32_t>(s.FilesProcessed), static_cast<long long>(s.BytesProcessed),
                static_cast<int32_t>(s.CountUnknown), static_cast<int32_t>(s.CountDoesntExist),
                static_cast<int32_t>(s.CountError), static_cast<int32_t>(s.HashFailures),
                static_cast<int32_t>(s.CountSafe), static_cast<int32_t>(s.CountMalware),
                static_cast<int32_t>(s.Skipped), static_cast<int32_t>(s.CountServerError));
  return text + s.ErrorText;
}

HRESULT WriteStateFileOnTaskThread(const std::wstring& path, const std::wstring& line) {
  WriteTask task{&path, &line, E_FAIL};
  CThreadHandle thread(::CreateThread(nullptr, 0, WriteTaskMain, &task, 0, nullptr));
  if (!thread) return HResultFromLastError();
  if (::WaitForSingleObject(thread.Get(), INFINITE) != WAIT_OBJECT_0) return HResultFromLastError();
  return task.result;
}

CStateWriteClock::CStateWriteClock() : clock_(WallClockSeconds) {}

bool CStateWriteClock::TakeTurn(bool force) {
  const int64_t now = clock_();
  if (!force && lastWrite_ != 0 && now >= lastWrite_ && now - lastWrite_ < 5) return false;
  lastWrite_ = now;
  return true;
}

HRESULT WriteState(const StateRecord& state, CStateWriteClock& clock, bool force) {
  if (!clock.TakeTurn(force)) return S_FALSE;
  return WriteStateFileOnTaskThread(state.StatePath, FormatStateLine(state));
}

}  // namespace kal
