// Bounds-checked walk of a PE file's certificate table.
#include "analysis/certificate_table.h"

#include <cstring>

namespace kal {
namespace {

constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kNtOffsetField = 60;
constexpr uint32_t kNtHeadersRead = 248;
constexpr uint32_t kMagicOffset = 24;
constexpr uint32_t kPe32SecurityEntry = 152;
constexpr uint32_t kPe32PlusSecurityEntry = 168;
constexpr uint32_t kEntryHeaderSize = 8;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Read32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace

bool CMemoryByteSource::ReadAt(uint64_t offset, void* buffer, uint32_t size) {
  if (offset > size_ || size > size_ - offset) return false;
  if (size != 0) std::memcpy(buffer, data_ + offset, size);
  return true;
}

bool LocateCertificateTable(IByteSource& file, CertificateTableLocation* location) {
  uint8_t dos[kDosHeaderSize];
  if (!file.ReadAt(0, dos, sizeof(dos))) return false;
  uint8_t nt[kNtHeadersRead];
  if (!file.ReadAt(Read32(dos + kNtOffsetField), nt, sizeof(nt))) return false;
  const uint16_t magic = Read16(nt + kMagicOffset);
  uint32_t entry = 0;
  if (magic == 0x10B) {
    entry = kPe32SecurityEntry;
  } else if (magic == 0x20B) {
    entry = kPe32PlusSecurityEntry;
  } else {
    return false;
  }
  location->offset = Read32(nt + entry);
  location->size = Read32(nt + entry + 4);
  return true;
}

CertificateEntries WalkCertificateTable(IByteSource& file, const CertificateTableLocation& location) {
  CertificateEntries found;
  const uint64_t tableEnd = uint64_t{location.offset} + location.size;  // no wrap in 64 bits
  if (tableEnd > file.Size()) return found;
  uint64_t at = location.offset;
  while (found.count < kMaxCertificateEntries && tableEnd - at >= kEntryHeaderSize) {
    uint8_t header[kEntryHeaderSize];
    if (!file.ReadAt(at, header, sizeof(header))) break;
    const uint32_t length = Read32(header);
    if (length < kMinCertificateEntryLength || length > tableEnd - at) break;
    found.entries[found.count].offset = static_cast<uint32_t>(at);
    found.entries[found.count].length = length;
    found.count += 1;
    at += (uint64_t{length} + 7) & ~uint64_t{7};
    if (at > tableEnd) break;
  }
  return found;
}

CertificateEntries FindCertificateEntries(IByteSource& file) {
  CertificateTableLocation location;
  if (!LocateCertificateTable(file, &location)) return CertificateEntries();
  return WalkCertificateTable(file, location);
}

}  // namespace kal
