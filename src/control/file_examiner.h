// The per-file examinations of the lookup phase: version strings, signer and SHA-1. An interface,
// so that the phase's batching and bookkeeping can be driven with chosen answers.
#pragma once

#include <string>

#include "collect/scan_items.h"

namespace kal {

struct VersionStrings {
  std::wstring Description;
  std::wstring Product;
  std::wstring Version;
  std::wstring Copyright;
};

class IFileExaminer {
 public:
  virtual ~IFileExaminer() = default;
  // Called once at the start and end of a lookup phase (the hash provider lives that long).
  virtual void BeginPhase() = 0;
  virtual void EndPhase() = 0;
  virtual bool ReadVersionStrings(const std::wstring& path, VersionStrings* out) = 0;
  // Empty when the file is unsigned or its signature was not verified.
  virtual std::wstring GetSigner(const std::wstring& path) = 0;
  // Fills the 20-byte digest and the CLR flag; the failing HRESULT otherwise.
  virtual HRESULT Hash(const std::wstring& path, uint8_t* sha1, bool* clr) = 0;
};

// The real examinations of this build.
class CFileExaminer : public IFileExaminer {
 public:
  void BeginPhase() override;
  void EndPhase() override;
  bool ReadVersionStrings(const std::wstring& path, VersionStrings* out) override;
  std::wstring GetSigner(const std::wstring& path) override;
  HRESULT Hash(const std::wstring& path, uint8_t* sha1, bool* clr) override;

 private:
  CCryptProv provider_;  // none: the built-in SHA-1 serves the whole phase
};

}  // namespace kal
