// The hash interface of the file analysis and its base class, which builds whole-buffer,
// whole-file and text hashing and the hexadecimal form on the few operations each algorithm
// provides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/win.h"

namespace kal::cryptography {

class IHashAlgorithm {
 public:
  // Feeds bytes; ignored when data is null or the hash is already finished.
  virtual void Update(const void* data, size_t size) = 0;
  // Finishes once: computes the digest and marks the hash finished; later calls do nothing.
  virtual void Final() = 0;
  // Back to the initial state: digest cleared, not finished.
  virtual void Reset() = 0;
  // Update, then Final.
  virtual void HashData(const void* data, size_t size) = 0;
  // Reads the file in 2048-byte pieces into Update, then Final. Returns 0, or the HRESULT of the
  // open or of a failed read (then without Final).
  virtual HRESULT HashFile(const wchar_t* path) = 0;
  // Update over the UTF-16 text, two bytes per character, then Final.
  virtual void HashString(const wchar_t* text, size_t chars) = 0;
  virtual size_t GetHashSize() const = 0;
  // Copies the digest to out when the hash is finished; does nothing when out is null or the hash
  // is not finished.
  virtual void GetHash(uint8_t* out) const = 0;
  // The digest as upper-case hexadecimal, two characters per byte, high nibble first.
  virtual std::wstring GetHashString() const = 0;
  virtual ~IHashAlgorithm() = default;
};

class CHashBase : public IHashAlgorithm {
 public:
  void HashData(const void* data, size_t size) override;
  HRESULT HashFile(const wchar_t* path) override;
  void HashString(const wchar_t* text, size_t chars) override;
  std::wstring GetHashString() const override;
};

}  // namespace kal::cryptography
