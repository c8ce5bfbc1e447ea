// Completing a pack: the result first, then the event that releases its waiting callers.
#include "lookup/lookup_pack.h"

namespace kal {

void CPiplinedLookupClient::CPack::Complete(HRESULT result) {
  if (completed_.exchange(true)) return;
  Result = result;
  ::SetEvent(Event.Get());
}

}  // namespace kal
