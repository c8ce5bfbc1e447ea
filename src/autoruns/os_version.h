// Whether the running system is at least a given version, as the system itself answers it.
#pragma once

#include "support/win.h"

namespace kal {

bool IsOsAtLeast(DWORD major, DWORD minor, WORD servicePackMajor);

}  // namespace kal
