// Acquisition of the per-phase hashing context.
#include "analysis/hash_provider.h"

#include "support/hresult.h"

namespace kal::cryptography {

HRESULT AcquireHashProvider(CCryptProv* provider) {
  if (!::CryptAcquireContextW(provider->Put(), nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, 0)) {
    const HRESULT hr = HResultFromLastError();
    provider->Reset();
    return hr;
  }
  return S_OK;
}

}  // namespace kal::cryptography
