// The signed fixtures the build makes under signed/ beside the test program, and the test CA
// they chain to, put into the machine's root store so trust verification accepts them.
#pragma once

#include <string>

#include "support/handles.h"
#include "test_support/fixture_path.h"
#include "test_support/temp_dir.h"

namespace kal {
namespace test {

constexpr wchar_t kFixtureSigner[] = L"Vantorag Test Code Signer";

inline std::wstring SignedFixture(const wchar_t* name) { return FixturePath(std::wstring(L"signed\\") + name); }

// Adds the fixtures' CA to the local machine's Root store (the test prefix's); true when it is there.
inline bool TrustFixtureRoot() {
  const std::string der = CTempDir::ReadFile(SignedFixture(L"ca.der"));
  if (der.empty()) return false;
  CCertStore root(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
  if (!root) return false;
  return ::CertAddEncodedCertificateToStore(root.Get(), X509_ASN_ENCODING,
                                            reinterpret_cast<const BYTE*>(der.data()),
                                            static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING,
                                            nullptr) != FALSE;
}

}  // namespace test
}  // namespace kal
