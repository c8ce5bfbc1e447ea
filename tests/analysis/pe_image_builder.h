// Builds small PE images in memory for the header and hashing tests: a DOS header pointing at NT
// headers in the PE32 or PE32+ layout, with chosen data directory entries.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace kal::testing_pe {

struct ImageLayout {
  uint16_t magic = 0x10B;       // 0x10B PE32, 0x20B PE32+
  uint32_t ntOffset = 0x80;     // e_lfanew
  uint32_t clrVirtualAddress = 0;
  uint32_t securityOffset = 0;  // certificate table entry (4)
  uint32_t securitySize = 0;
  size_t fileSize = 0x400;
  uint16_t mark = 0x5A4D;       // "MZ"
};

inline void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  if (at + 2 <= b.size()) std::memcpy(&b[at], &v, 2);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  if (at + 4 <= b.size()) std::memcpy(&b[at], &v, 4);
}

// Fields that fall beyond fileSize are left out, so truncated images are built the same way.
inline std::vector<uint8_t> BuildImage(const ImageLayout& layout) {
  std::vector<uint8_t> b(layout.fileSize, 0);
  Put16(b, 0, layout.mark);
  Put32(b, 60, layout.ntOffset);
  const size_t nt = layout.ntOffset;
  const bool plus = layout.magic == 0x20B;
  Put32(b, nt, 0x00004550);                         // "PE\0\0"
  Put16(b, nt + 4, plus ? 0x8664 : 0x014C);         // machine
  Put16(b, nt + 20, plus ? 240 : 224);              // SizeOfOptionalHeader
  Put16(b, nt + 24, layout.magic);
  const size_t directories = nt + 24 + (plus ? 112 : 96);
  Put32(b, directories - 4, 16);                    // NumberOfRvaAndSizes
  Put32(b, directories + 4 * 8, layout.securityOffset);
  Put32(b, directories + 4 * 8 + 4, layout.securitySize);
  Put32(b, directories + 14 * 8, layout.clrVirtualAddress);
  Put32(b, directories + 14 * 8 + 4, layout.clrVirtualAddress != 0 ? 0x48 : 0);
  return b;
}

}  // namespace kal::testing_pe
