// Puts a DER certificate into the local machine's Root store of the test prefix, in the registry
// view of the program under test, so that files signed under it are trusted in a scan.
//   e2e_trust_root.exe <certificate.der>
#include <string>

#include "support/handles.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  kal::CFileHandle file(::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return 3;
  std::string der(65536, '\0');
  DWORD read = 0;
  if (!::ReadFile(file.Get(), &der[0], static_cast<DWORD>(der.size()), &read, nullptr) || read == 0) return 3;
  kal::CCertStore root(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
  if (!root) return 4;
  return ::CertAddEncodedCertificateToStore(root.Get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                            read, CERT_STORE_ADD_USE_EXISTING, nullptr)
             ? 0
             : 5;
}
