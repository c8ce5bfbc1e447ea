// The built-in SHA-1 behind IHashAlgorithm. Update and Final run under the fault guard: a machine
// fault while reading the input (an in-page error in a mapped file) abandons the call, and the
// hash keeps what it absorbed before the fault.
#pragma once

#include "analysis/hash_algorithm.h"
#include "analysis/sha1_core.h"

namespace kal::cryptography {

class SHA1 : public CHashBase {
 public:
  SHA1() : SHA1(Sha1Core::kBest) {}
  // kPortable keeps to the portable block function (tests and benchmarks compare the two).
  explicit SHA1(Sha1Core core);

  void Update(const void* data, size_t size) override;
  void Final() override;
  void Reset() override;
  size_t GetHashSize() const override { return kSha1DigestSize; }
  void GetHash(uint8_t* out) const override;

  // The exception code of the first fault swallowed since the last Reset, 0 when none: the digest
  // then covers only part of the input.
  DWORD FaultCode() const { return faultCode_; }

 private:
  bool finished_;
  uint8_t digest_[kSha1DigestSize];
  Sha1Context context_;
  Sha1Core core_;
  DWORD faultCode_;
};

}  // namespace kal::cryptography
