// The clock of the scan benchmarks: seconds from the performance counter.
#pragma once

#include "support/win.h"

namespace kal::bench {

inline double Seconds() {
  LARGE_INTEGER now, frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace kal::bench
