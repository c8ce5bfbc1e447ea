// Process and system bitness, read once: IsWow64Process is looked up because the oldest systems
// the 32-bit build runs on lack it.
#include "support/bitness.h"

#include "support/win.h"

namespace kal {

bool RunsUnderWow64() {
  if (kIs64BitBuild) return false;
  static const bool wow64 = [] {
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const auto isWow64 = kernel32 ? reinterpret_cast<BOOL(WINAPI*)(HANDLE, BOOL*)>(
                                        reinterpret_cast<void*>(::GetProcAddress(kernel32, "IsWow64Process")))
                                  : nullptr;
    BOOL value = FALSE;
    return isWow64 && isWow64(::GetCurrentProcess(), &value) && value;
  }();
  return wow64;
}

bool IsSystem64Bit() { return kIs64BitBuild || RunsUnderWow64(); }

}  // namespace kal
