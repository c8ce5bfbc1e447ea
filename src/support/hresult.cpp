// Raising the string and container layer's error object.
#include "support/hresult.h"

namespace kal {

void ThrowHResult(HRESULT hr) { throw CHResultError(hr); }

bool IsLackOfMemory(HRESULT hr) {
  static const HRESULT kLackOfMemory[] = {
      E_OUTOFMEMORY,
      HResultFromWin32(ERROR_NOT_ENOUGH_MEMORY),
      HResultFromWin32(ERROR_COMMITMENT_LIMIT),
      HResultFromWin32(ERROR_NO_SYSTEM_RESOURCES),
      STG_E_INSUFFICIENTMEMORY,
  };
  for (HRESULT known : kLackOfMemory)
    if (hr == known) return true;
  return false;
}

}  // namespace kal
