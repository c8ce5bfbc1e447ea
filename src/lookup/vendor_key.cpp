// Vendor keys: the signer name converted with the UTF-8 code page, then digested.
#include "lookup/vendor_key.h"

#include <climits>
#include <cstring>
#include <string>

#include "analysis/sha1_core.h"
#include "support/hresult.h"

namespace kal {

HRESULT MakeVendorKey(std::wstring_view signer, CSafetyLookupClientBase::CRequest* key) {
  std::string utf8;
  if (!signer.empty()) {
    if (signer.size() > INT_MAX / 4) return E_INVALIDARG;
    const int length = static_cast<int>(signer.size());
    const int needed =
        ::WideCharToMultiByte(CP_UTF8, 0, signer.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return HResultFromLastError();
    utf8.resize(static_cast<size_t>(needed));
    if (::WideCharToMultiByte(CP_UTF8, 0, signer.data(), length, &utf8[0], needed, nullptr,
                              nullptr) != needed) {
      return HResultFromLastError();
    }
  }
  const auto digest = cryptography::Sha1Digest(utf8.data(), utf8.size());
  static_assert(sizeof(key->Key) == digest.size(), "a vendor key is one SHA-1 digest");
  std::memcpy(key->Key, digest.data(), digest.size());
  return S_OK;
}

}  // namespace kal
