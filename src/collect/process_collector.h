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

// Reads another process's memory: true only when all `size` bytes were read.
class IProcessMemory {
 public:
  virtual ~IProcessMemory() = default;
  virtual bool Read(uint64_t address, void* buffer, uint32_t size) const = 0;
};

// Where a process's environment block keeps its command line, in the target's own layout.
struct EnvironmentBlockLayout {
  uint32_t pointerSize;        // 4 or 8: addresses stored in the target
  uint32_t parametersOffset;   // the parameters block pointer inside the environment block
  uint32_t commandLineOffset;  // the counted string header inside the parameters block
};
constexpr EnvironmentBlockLayout kEnvironmentBlock32 = {4, 0x10, 0x40};
constexpr EnvironmentBlockLayout kEnvironmentBlock64 = {8, 0x20, 0x70};

// The command line of a process from its environment block at `peb`: the parameters block
// pointer at peb + parametersOffset, the counted string header (16-bit length in bytes, then the
// buffer address, pointer-aligned) at parameters + commandLineOffset. NULs become spaces.
// Every address and length comes from the target and may be garbage: any unreadable step, or an
// address past the layout's address space, gives an empty string, and at most 64 KiB (the
// header's 16-bit length) is ever read.
std::wstring ReadCommandLine(const IProcessMemory& memory, uint64_t peb, const EnvironmentBlockLayout& layout);

// Kernel plus user time (100-ns units) in whole seconds, remainder dropped.
int64_t CpuTimeSeconds(const FILETIME& kernel, const FILETIME& user);

// Registers the modules of one process in list order, the main image first. An empty name (one
// that could not be read) leaves no entry; the first name of the list alone sets ModuleRefId;
// a module turned away by the filters stays in Modules as 0.
HRESULT RecordProcessModules(CScanItems& items, const std::vector<std::wstring>& moduleNames, ProcessItem* process);

}  // namespace kal
