// Raising the string and container layer's error object.
#include "support/hresult.h"

namespace kal {

void ThrowHResult(HRESULT hr) { throw CHResultError(hr); }

}  // namespace kal
