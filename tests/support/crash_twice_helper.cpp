// Faults twice: a first exception that a vectored handler passes to the dump writer and then lets
// the program go on, and a real access violation that reaches the unhandled-exception filter.
// A single-step exception goes first; it must not use up the process's one dump.
#include <cstdio>

#include "support/crash_dump.h"

namespace {

LONG CALLBACK FirstChance(EXCEPTION_POINTERS* pointers) {
  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
  if (code == EXCEPTION_SINGLE_STEP || code == 0xE0000001) {
    const LONG verdict = kal::WriteCrashDump(pointers);
    std::printf("verdict 0x%08lX %ld\n", code, verdict);
    std::fflush(stdout);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

int wmain() {
  kal::InstallCrashHandlers();
  ::AddVectoredExceptionHandler(1, FirstChance);
  ::RaiseException(EXCEPTION_SINGLE_STEP, 0, 0, nullptr);
  ::RaiseException(0xE0000001, 0, 0, nullptr);
  volatile int* nowhere = nullptr;
  *nowhere = 1;  // the second fault: the filter runs, the dump is used up, the process ends
  return 0;
}
