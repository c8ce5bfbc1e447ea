// The embedded (Authenticode) signature of a PE file: the signer's name from the signed message
// in the first certificate table entry, and the platform's trust verification of the whole file.
#pragma once

#include <string>

#include "analysis/certificate_table.h"
#include "support/win.h"

namespace kal::cryptography {

// Reads of an open file at absolute offsets; the size is taken once, when it is made.
class CFileByteSource : public IByteSource {
 public:
  explicit CFileByteSource(HANDLE file);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t size) override;

 private:
  HANDLE file_;
  uint64_t size_ = 0;
};

// The signer certificate's simple display name when the PKCS #7 message of the first certificate
// table entry verifies; empty on any failure. Only the message is checked, not the file's hash.
std::wstring ReadEmbeddedSignerName(const std::wstring& path);

// WinVerifyTrust of the file with the generic verification action, no user interface and no
// revocation checks; 0 when the file is trusted.
LONG VerifyEmbeddedTrust(const std::wstring& path);

}  // namespace kal::cryptography
