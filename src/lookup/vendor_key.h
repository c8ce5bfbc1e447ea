// The lookup key of a signer: the SHA-1 of the signer name's UTF-8 bytes (no terminator, no
// case change).
#pragma once

#include <string_view>

#include "lookup/wire_format.h"
#include "support/win.h"

namespace kal {

// Fails with the HRESULT of the UTF-8 conversion; key is untouched then.
HRESULT MakeVendorKey(std::wstring_view signer, CSafetyLookupClientBase::CRequest* key);

}  // namespace kal
