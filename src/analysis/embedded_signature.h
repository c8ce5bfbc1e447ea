// The embedded (Authenticode) signature of a PE file: the signer's name from the signed message
// in the first certificate table entry, and the platform's trust verification of the whole file.
#pragma once

#include <string>

#include "support/win.h"

namespace kal::cryptography {

// The signer certificate's simple display name when the PKCS #7 message of the first certificate
// table entry verifies; empty on any failure. Only the message is checked, not the file's hash.
std::wstring ReadEmbeddedSignerName(const std::wstring& path);

// WinVerifyTrust of the file with the generic verification action, no user interface and no
// revocation checks; 0 when the file is trusted.
LONG VerifyEmbeddedTrust(const std::wstring& path);

}  // namespace kal::cryptography
