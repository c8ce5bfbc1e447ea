// An impersonation of the calling thread that reverts to the process's own identity when it ends.
#pragma once

#include "support/win.h"

namespace kal {

class CImpersonation {
 public:
  CImpersonation() = default;
  CImpersonation(const CImpersonation&) = delete;
  CImpersonation& operator=(const CImpersonation&) = delete;
  ~CImpersonation() { Revert(); }

  // ImpersonateLoggedOnUser with `token`; the token may be closed afterwards.
  HRESULT Impersonate(HANDLE token);
  bool Active() const { return active_; }
  void Revert();

 private:
  bool active_ = false;
};

}  // namespace kal
