// The CryptoAPI context that the lookup phase hashes files with: acquired once per phase, released
// at its end. When it can't be acquired, files are hashed with the built-in SHA-1.
#pragma once

#include "support/handles.h"

namespace kal::cryptography {

// Acquires the base cryptographic provider (PROV_RSA_FULL) for the default key container with
// no flags. Returns 0 with `provider` holding the context, or the acquisition's HRESULT with
// `provider` empty (0x80090016 when the default container does not exist).
HRESULT AcquireHashProvider(CCryptProv* provider);

}  // namespace kal::cryptography
