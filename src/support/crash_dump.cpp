// The crash-dump writer and the handlers that call it.
#include "support/crash_dump.h"

#include <cwchar>

#include <dbghelp.h>
#include <shlobj.h>

#include "support/handles.h"
#include "support/kal_exception.h"

#ifndef VANTORAG_VERSION_TEXT
#define VANTORAG_VERSION_TEXT L"0.0.0.0"
#endif

namespace kal {
namespace {

volatile LONG g_dumpAllowed = 1;
volatile LONG g_filterInstalled = 0;

LONG WINAPI UnhandledFilter(EXCEPTION_POINTERS* pointers) {
  WriteCrashDump(pointers);
  return EXCEPTION_EXECUTE_HANDLER;  // end without the platform's error report
}

bool IsSingleStep(const EXCEPTION_RECORD* record) {
  for (; record; record = record->ExceptionRecord)
    if (record->ExceptionCode == EXCEPTION_SINGLE_STEP) return true;
  return false;
}

std::wstring ProgramName() {
  wchar_t path[518] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, path, 518);
  if (n == 0 || n >= 518) return L"Unknown";
  const wchar_t* slash = std::wcsrchr(path, L'\\');
  return slash ? slash + 1 : path;
}

std::wstring LocalFatTimeStamp() {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  FILETIME utc, local;
  WORD date = 0, time = 0;
  if (!::SystemTimeToFileTime(&now, &utc) || !::FileTimeToLocalFileTime(&utc, &local) ||
      !::FileTimeToDosDateTime(&local, &date, &time))
    return std::wstring();
  return FormatDumpTimeStamp(date, time);
}

// "<common app data>\Tessel\KalDumps\", created with its parents; empty when it can't be made.
std::wstring DumpFolder() {
  wchar_t base[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, base)))
    return std::wstring();
  std::wstring folder = std::wstring(base) + L"\\Tessel\\KalDumps\\";
  if (folder.size() >= MAX_PATH) return std::wstring();
  const int rc = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  if (rc != ERROR_SUCCESS && rc != ERROR_ALREADY_EXISTS && rc != ERROR_FILE_EXISTS)
    return std::wstring();
  return folder;
}

}  // namespace

std::wstring FormatDumpTimeStamp(WORD fatDate, WORD fatTime) {
  wchar_t text[32];
  std::swprintf(text, 32, L"%04d%02d%02d_%02d%02d%02d", 1980 + (fatDate >> 9), (fatDate >> 5) & 0x0F,
                fatDate & 0x1F, fatTime >> 11, (fatTime >> 5) & 0x3F, (fatTime & 0x1F) * 2);
  return text;
}

std::wstring FormatDumpFileName(const std::wstring& folder, const std::wstring& program,
                                const std::wstring& version, const std::wstring& stamp) {
  return folder + L"\\" + program + L"_" + version + L"_" + stamp + L".dmp";
}

LONG WriteCrashDump(EXCEPTION_POINTERS* pointers) {
  if (::InterlockedExchange(&g_dumpAllowed, 0) == 0) return EXCEPTION_CONTINUE_SEARCH;
  if (pointers && IsSingleStep(pointers->ExceptionRecord)) {
    ::InterlockedExchange(&g_dumpAllowed, 1);  // a single step uses up nothing
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  const std::wstring folder = DumpFolder();
  if (folder.empty()) return EXCEPTION_CONTINUE_SEARCH;
  const std::wstring path =
      FormatDumpFileName(folder, ProgramName(), VANTORAG_VERSION_TEXT, LocalFatTimeStamp());
  CFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file) return EXCEPTION_CONTINUE_SEARCH;
  MINIDUMP_EXCEPTION_INFORMATION info = {};
  info.ThreadId = ::GetCurrentThreadId();
  info.ExceptionPointers = pointers;
  info.ClientPointers = FALSE;
  ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.Get(), MiniDumpWithFullMemory,
                      pointers ? &info : nullptr, nullptr, nullptr);
  return EXCEPTION_CONTINUE_SEARCH;
}

void InstallCrashHandlers() {
  // Vista SP1 and later need no translator: the filter sees every fault. GCC has no
  // _set_se_translator, so on older systems faults also go to the filter.
  if (::InterlockedExchange(&g_filterInstalled, 1) == 0) ::SetUnhandledExceptionFilter(UnhandledFilter);
}

}  // namespace kal
