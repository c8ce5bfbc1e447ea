// Finding the Authenticode certificate table of a PE file and the entries in it, from the file's
// bytes alone. The reads go through a byte source, so a table at the end of a large file is walked
// without loading the file; every offset taken from the file is checked without overflow.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kal {

// Reads of a file's bytes at absolute offsets.
class IByteSource {
 public:
  virtual ~IByteSource() = default;
  virtual uint64_t Size() const = 0;
  // All `size` bytes at `offset`, or false.
  virtual bool ReadAt(uint64_t offset, void* buffer, uint32_t size) = 0;
};

// A byte source over bytes already in memory.
class CMemoryByteSource : public IByteSource {
 public:
  CMemoryByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t size) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

struct CertificateTableLocation {
  uint32_t offset = 0;  // file offset, as the security directory entry holds it
  uint32_t size = 0;
};

// Only the first entry is ever used; a few more are noted so the walk has a bound.
constexpr unsigned kMaxCertificateEntries = 5;
// A WIN_CERTIFICATE header (length, revision, type) plus at least a few bytes of content.
constexpr uint32_t kMinCertificateEntryLength = 11;

struct CertificateEntry {
  uint32_t offset = 0;  // file offset of the entry's header
  uint32_t length = 0;  // the header's dwLength (header included)
};

struct CertificateEntries {
  unsigned count = 0;  // entries noted, at most kMaxCertificateEntries
  CertificateEntry entries[kMaxCertificateEntries];
};

// The 64-byte DOS header names the NT headers (the 32-bit word at 60); of those, 248 bytes are
// read. Their optional-header magic must be PE32 or PE32+, whose security directory entry lies
// 152 or 168 bytes in. False when the bytes can't be read or the magic is neither.
bool LocateCertificateTable(IByteSource& file, CertificateTableLocation* location);

// Walks the table's entries in order: each starts with a 32-bit length (the header included), a
// 16-bit revision and a 16-bit type; any type counts. An entry shorter than 11 bytes, longer than
// the rest of the table or not readable ends the walk; the next entry starts at the next multiple
// of 8 bytes. A table that does not lie within the file has no entries.
CertificateEntries WalkCertificateTable(IByteSource& file, const CertificateTableLocation& location);

// Both steps; no table gives no entries.
CertificateEntries FindCertificateEntries(IByteSource& file);

}  // namespace kal
