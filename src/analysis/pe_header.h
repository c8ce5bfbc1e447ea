// Reading the headers of a PE image from its bytes: where the NT headers are, which optional
// header layout (PE32 or PE32+) the image uses, and its data directory entries. Every offset
// taken from the file is checked against the byte count without overflow, so no input makes a
// reader look outside the bytes it was given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kal {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;

// Data directory indexes used by the scanner.
constexpr unsigned kPeDirectorySecurity = 4;
constexpr unsigned kPeDirectoryClrRuntime = 14;

struct PeDataDirectory {
  uint32_t virtualAddress;
  uint32_t size;  // for the security entry, the file offset and size of the certificate table
};

struct PeHeaders {
  uint32_t ntOffset;             // e_lfanew: file offset of the "PE\0\0" signature
  uint16_t magic;                // kPe32Magic or kPe32PlusMagic
  uint32_t numberOfRvaAndSizes;  // as the optional header states it; not clipped
  uint64_t directoryOffset;      // file offset of data directory entry 0
};

// Fills `headers` when the bytes start with "MZ" or "ZM", hold at least 64 bytes, the NT
// headers at e_lfanew start with "PE\0\0", the optional header magic is PE32 or PE32+ and the
// optional header reaches NumberOfRvaAndSizes within the bytes; `headers` is untouched otherwise.
bool ParsePeHeaders(const uint8_t* data, uint64_t size, PeHeaders* headers);

// Entry `index` of the data directory, read where the layout puts it whatever
// numberOfRvaAndSizes says; false (and `entry` untouched) when its eight bytes are not all
// within the given bytes.
bool GetPeDataDirectory(const uint8_t* data, uint64_t size, const PeHeaders& headers,
                        unsigned index, PeDataDirectory* entry);

// True when the bytes are a PE image whose CLR runtime header entry (14) has a non-zero virtual
// address. Besides the header checks above, the NT headers plus 248 bytes must lie within the
// bytes.
bool IsClrImage(const uint8_t* data, uint64_t size);

}  // namespace kal
