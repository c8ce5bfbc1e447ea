// Crash dumps: one full-memory minidump per process, written by the unhandled-exception filter
// into "<common application data>\Tessel\KalDumps\".
#pragma once

#include <string>

#include "support/win.h"

namespace kal {

// Installs the per-thread structured-exception translator (only on systems older than Vista SP1)
// and, once per process, the unhandled-exception filter.
void InstallCrashHandlers();

// Writes the process's one dump; returns the filter verdict: 0 (continue the search) after a dump
// or when the dump was already used up, -1 (continue execution) for a single-step exception.
LONG WriteCrashDump(EXCEPTION_POINTERS* pointers);

// "yyyymmdd_hhmmss" from the FAT packed date and time (seconds are always even).
std::wstring FormatDumpTimeStamp(WORD fatDate, WORD fatTime);

// "<folder>\<program>_<version>_<stamp>.dmp"; `folder` already ends with a backslash.
std::wstring FormatDumpFileName(const std::wstring& folder, const std::wstring& program,
                                const std::wstring& version, const std::wstring& stamp);

}  // namespace kal
