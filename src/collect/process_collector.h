// The processes phase: every running process that can be opened becomes a ProcessItem, and every
// module loaded in it is registered as a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "collect/scan_items.h"
#include "control/run_context.h"

namespace kal {

// The processes phase. S_OK also when the process list can't be read; E_ABORT on a stop; the
// failed pause wait; a negative AddModule result.
HRESULT CollectProcesses(CRunContext& run, CScanItems& items);

// Reads another process's memory at 32-bit addresses: true only when all `size` bytes were read.
class IProcessMemory {
 public:
  virtual ~IProcessMemory() = default;
  virtual bool Read(uint32_t address, void* buffer, uint32_t size) const = 0;
};

// The command line of a process in the 32-bit layout, from its environment block at `peb`:
// parameters block at peb + 0x10, counted string header at parameters + 0x40. NULs become spaces.
// Every address and length comes from the target and may be garbage: any unreadable step gives
// an empty string, and at most 64 KiB (the header's 16-bit length) is ever read.
std::wstring ReadCommandLine32(const IProcessMemory& memory, uint32_t peb);

// Kernel plus user time (100-ns units) in whole seconds, remainder dropped.
int64_t CpuTimeSeconds(const FILETIME& kernel, const FILETIME& user);

// Registers the modules of one process in list order, the main image first. An empty name (one
// that could not be read) leaves no entry; the first name of the list alone sets ModuleRefId;
// a module turned away by the filters stays in Modules as 0.
HRESULT RecordProcessModules(CScanItems& items, const std::vector<std::wstring>& moduleNames, ProcessItem* process);

}  // namespace kal
