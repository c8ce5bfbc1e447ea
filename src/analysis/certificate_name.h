// Names read from a certificate context.
#pragma once

#include <string>

#include "support/win.h"

#include <wincrypt.h>

namespace kal::cryptography {

// CertGetNameStringW of `type` with `flags`; empty when the certificate has no such name.
std::wstring CertificateName(PCCERT_CONTEXT certificate, DWORD type, DWORD flags);

// The simple display name (CERT_NAME_SIMPLE_DISPLAY_TYPE, no flags): the name a signer is known by.
inline std::wstring SimpleDisplayName(PCCERT_CONTEXT certificate) {
  return CertificateName(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0);
}

}  // namespace kal::cryptography
