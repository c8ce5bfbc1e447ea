// Thread impersonation with revert on destruction.
#include "support/impersonation.h"

#include "support/hresult.h"

namespace kal {

HRESULT CImpersonation::Impersonate(HANDLE token) {
  Revert();
  if (!::ImpersonateLoggedOnUser(token)) return HResultFromLastError();
  active_ = true;
  return S_OK;
}

void CImpersonation::Revert() {
  if (active_) {
    const DWORD lastError = ::GetLastError();
    ::RevertToSelf();
    ::SetLastError(lastError);
  }
  active_ = false;
}

}  // namespace kal
