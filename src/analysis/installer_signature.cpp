// MsiGetFileSignatureInformationW without hash output, the certificate held by its owner.
#include "analysis/installer_signature.h"

#include "support/handles.h"

#include <msi.h>

#include "analysis/certificate_name.h"

namespace kal::cryptography {

long QueryInstallerSignature(const std::wstring& path, std::wstring* signer) {
  signer->clear();
  CCertContext certificate;
  const HRESULT hr = ::MsiGetFileSignatureInformationW(path.c_str(), MSI_INVALID_HASH_IS_FATAL,
                                                       certificate.Put(), nullptr, nullptr);
  if (SUCCEEDED(hr)) *signer = SimpleDisplayName(certificate.Get());
  return hr;
}

std::wstring ReadInstallerSigner(const std::wstring& path) {
  std::wstring signer;
  QueryInstallerSignature(path, &signer);
  return signer;
}

}  // namespace kal::cryptography
