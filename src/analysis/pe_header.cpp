// Bounds-checked reading of PE headers from a byte range.
#include "analysis/pe_header.h"

namespace kal {
namespace {

constexpr uint64_t kDosHeaderSize = 64;
constexpr uint64_t kNtOffsetField = 60;
constexpr uint64_t kSignatureSize = 4;
constexpr uint64_t kFileHeaderSize = 20;
// Signature, file header and the PE32 optional header with its 16 directory entries.
constexpr uint64_t kPe32NtHeadersSize = 248;
constexpr uint64_t kDirectoryEntrySize = 8;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Read32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// [offset, offset + length) lies within `size` bytes; written so that no sum can wrap.
bool Within(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace

bool ParsePeHeaders(const uint8_t* data, uint64_t size, PeHeaders* headers) {
  if (data == nullptr || size < kDosHeaderSize) return false;
  const uint16_t mark = Read16(data);
  if (mark != 0x5A4D && mark != 0x4D5A) return false;  // "MZ" or "ZM"
  const uint64_t nt = Read32(data + kNtOffsetField);
  const uint64_t optional = nt + kSignatureSize + kFileHeaderSize;
  // Signature, file header and the optional header's magic.
  if (!Within(nt, kSignatureSize + kFileHeaderSize + 2, size)) return false;
  if (Read32(data + nt) != 0x00004550) return false;  // "PE\0\0"
  const uint16_t magic = Read16(data + optional);
  uint64_t countField = 0;
  uint64_t directories = 0;
  if (magic == kPe32Magic) {
    countField = optional + 92;
    directories = optional + 96;
  } else if (magic == kPe32PlusMagic) {
    countField = optional + 108;
    directories = optional + 112;
  } else {
    return false;
  }
  // The optional header up to NumberOfRvaAndSizes in the layout the magic names.
  if (!Within(countField, 4, size)) return false;
  headers->ntOffset = static_cast<uint32_t>(nt);
  headers->magic = magic;
  headers->numberOfRvaAndSizes = Read32(data + countField);
  headers->directoryOffset = directories;
  return true;
}

bool GetPeDataDirectory(const uint8_t* data, uint64_t size, const PeHeaders& headers,
                        unsigned index, PeDataDirectory* entry) {
  const uint64_t offset = headers.directoryOffset + uint64_t{index} * kDirectoryEntrySize;
  if (data == nullptr || !Within(offset, kDirectoryEntrySize, size)) return false;
  entry->virtualAddress = Read32(data + offset);
  entry->size = Read32(data + offset + 4);
  return true;
}

bool IsClrImage(const uint8_t* data, uint64_t size) {
  PeHeaders headers;
  if (!ParsePeHeaders(data, size, &headers)) return false;
  if (!Within(headers.ntOffset, kPe32NtHeadersSize, size)) return false;
  PeDataDirectory clr;
  if (!GetPeDataDirectory(data, size, headers, kPeDirectoryClrRuntime, &clr)) return false;
  return clr.virtualAddress != 0;
}

}  // namespace kal
