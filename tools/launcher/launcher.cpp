// Test launcher: runs a Windows program and prints its full 32-bit exit code (the Linux shell sees
// only the low byte). With --event NAME it creates that named event first and reports afterwards
// whether the program set it.
//   launcher.exe [--event NAME] -- program [args...]
#include <cstdio>
#include <string>

#include "control/service_command_line.h"
#include "support/handles.h"

namespace {

// Quotes one argument by the rules CommandLineToArgvW reads back; a plain one stays as it is.
std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  return kal::QuoteServiceValue(arg);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int i = 1;
  const wchar_t* eventName = nullptr;
  for (; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--") {
      ++i;
      break;
    }
    if (arg == L"--event" && i + 1 < argc) eventName = argv[++i];
  }
  if (i >= argc) {
    std::fwprintf(stderr, L"usage: launcher [--event NAME] -- program [args...]\n");
    return 2;
  }
  std::wstring commandLine;
  for (int k = i; k < argc; ++k) commandLine += (k > i ? L" " : L"") + QuoteArgument(argv[k]);

  kal::CEvent event;
  if (eventName) event.Reset(::CreateEventW(nullptr, TRUE, FALSE, eventName));

  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::wprintf(L"start-failed=%lu\n", ::GetLastError());
    return 3;
  }
  kal::CKernelHandle process(pi.hProcess);
  kal::CThreadHandle thread(pi.hThread);
  ::WaitForSingleObject(process.Get(), INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.Get(), &code);
  std::fflush(stdout);
  std::wprintf(L"exit=0x%08lX\n", code);
  if (event) std::wprintf(L"event=%d\n", ::WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0 ? 1 : 0);
  return 0;
}
