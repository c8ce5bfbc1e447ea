// What the Windows benchmarks measure with: a monotonic clock in seconds, the process's memory
// counters, and the bytes busy in its heaps (Wine's private-bytes counter reads 0, so the heaps
// are walked instead: busy blocks with their overhead, over every heap of the process).
#pragma once

#include "support/win.h"

#include <psapi.h>

namespace kal {
namespace bench {

inline double Seconds() {
  LARGE_INTEGER now, frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline PROCESS_MEMORY_COUNTERS Memory() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
  return counters;
}

inline double HeapBytes() {
  HANDLE heaps[64];
  const DWORD count = ::GetProcessHeaps(64, heaps);
  double busy = 0;
  for (DWORD i = 0; i < count && i < 64; ++i) {
    if (!::HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry = {};
    while (::HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData + entry.cbOverhead;
    ::HeapUnlock(heaps[i]);
  }
  return busy;
}

}  // namespace bench
}  // namespace kal
