// The certificate context wrappers: each finds and verifies one signature of a file and holds its
// signer certificate while the details wanted are read from it. The embedded one reads the
// file's own certificate table; the catalog one finds the catalog that lists the file's hash (or
// a packaged application's own catalog) and lets WinVerifyTrust verify the file against it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/catalog_api.h"
#include "support/handles.h"
#include "support/trust_state.h"

namespace kal::cryptography {

// Bits of the `what` mask of Verify.
constexpr uint32_t kCertIssuer = 1;
constexpr uint32_t kCertDisplayName = 2;
constexpr uint32_t kCertValidity = 4;

class CCertContextWrapper {
 public:
  CCertContextWrapper() = default;
  CCertContextWrapper(const CCertContextWrapper&) = delete;
  CCertContextWrapper& operator=(const CCertContextWrapper&) = delete;
  virtual ~CCertContextWrapper() = default;

  // Finds and verifies the signature and keeps its signer certificate.
  virtual bool Open(const std::wstring& path) = 0;
  // Releases what Open acquired; safe to call more than once.
  virtual void Close() = 0;
  // Open, then (when it succeeded) the details `what` selects are read; Close always follows.
  // Returns what Open returned.
  bool Verify(const std::wstring& path, uint32_t what);

  const std::wstring& DisplayName() const { return displayName_; }
  const std::wstring& Issuer() const { return issuer_; }
  FILETIME NotBefore() const { return notBefore_; }
  FILETIME NotAfter() const { return notAfter_; }
  bool Verified() const { return verified_; }

 protected:
  CCertContext certificate_;  // none until a signature gave one
  std::wstring displayName_;
  std::wstring issuer_;
  FILETIME notBefore_ = {};
  FILETIME notAfter_ = {};
  bool verified_ = false;
};

// The signer of the file's own certificate table; verified when its signed message verifies.
class CEmbeddedCertContextWrapper : public CCertContextWrapper {
 public:
  bool Open(const std::wstring& path) override;
  void Close() override;

 private:
  CHeap heap_;
};

class CCatalogCertContextWrapper : public CCertContextWrapper {
 public:
  explicit CCatalogCertContextWrapper(uint32_t endCertRevocation) : endCertRevocation_(endCertRevocation) {}
  ~CCatalogCertContextWrapper() override { Close(); }

  // False when the file can't be opened, the catalog functions are not usable, the hash fails or
  // no catalog lists the file. True otherwise, also when the trust verification failed (the
  // display name then stays empty and the verified flag clear).
  bool Open(const std::wstring& path) override;
  void Close() override;

 private:
  // Computes the file's catalog hash into hash_ (growing it when the platform asks for more).
  bool HashFile(bool sha256);

  WINTRUST_DATA request_ = {};
  WINTRUST_CATALOG_INFO catalogInfo_ = {};
  std::wstring catalogPath_;
  std::wstring memberTag_;
  uint8_t inlineHash_[32] = {};
  CProcessHeapBlock allocatedHash_;  // when 32 bytes were not enough
  uint8_t* hash_ = inlineHash_;
  DWORD hashSize_ = 0;
  CFileHandle file_;
  CCatAdmin admin_;
  CCatalogContext catalog_;  // declared after admin_: released before it
  CTrustState trustState_;   // last: closed first
  uint32_t endCertRevocation_;
};

}  // namespace kal::cryptography
