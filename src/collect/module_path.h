// Turns the kernel-style paths that module and driver lists report ("\SystemRoot\...",
// "\??\C:\...") into the Win32 form under which files are registered.
#pragma once

#include <string>

namespace kal {

// Lower-cases A-Z, drops a leading "\??\", turns a leading "\systemroot\" into "%SystemRoot%\"
// and expands environment variables. When expansion fails, the unexpanded form is returned.
std::wstring NormalizeModulePath(const std::wstring& path);

}  // namespace kal
