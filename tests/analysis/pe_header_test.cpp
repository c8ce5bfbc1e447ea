// The PE header reader and the CLR test over images built here, including truncated images and
// header offsets chosen to wrap a 32-bit sum.
#include "analysis/pe_header.h"

#include <gtest/gtest.h>

#include "pe_image_builder.h"

namespace kal {
namespace {

using testing_pe::BuildImage;
using testing_pe::ImageLayout;

ImageLayout Layout(uint16_t magic, uint32_t clr) {
  ImageLayout layout;
  layout.magic = magic;
  layout.clrVirtualAddress = clr;
  return layout;
}

struct ClrCase {
  const char* name;
  std::vector<uint8_t> bytes;
  bool clr;
};

std::vector<uint8_t> WithNtOffset(ImageLayout layout, uint32_t ntOffset) {
  std::vector<uint8_t> bytes = BuildImage(layout);
  testing_pe::Put32(bytes, 60, ntOffset);
  return bytes;
}

TEST(PeHeader, ClrTest) {
  ImageLayout zm = Layout(0x10B, 0x2008);
  zm.mark = 0x4D5A;
  ImageLayout unmarked = Layout(0x10B, 0x2008);
  unmarked.mark = 0x0000;
  ImageLayout rom = Layout(0x107, 0x2008);
  // PE32 with the NT headers ending exactly at the end of the file (nt + 248 == size).
  ImageLayout pe32Tight = Layout(0x10B, 0x2008);
  pe32Tight.fileSize = pe32Tight.ntOffset + 248;
  ImageLayout pe32Short = pe32Tight;
  pe32Short.fileSize -= 1;
  // PE32+: entry 14 is at nt + 248, so with nt + 248 == size it lies outside the file.
  ImageLayout plusCut = Layout(0x20B, 0x2008);
  plusCut.fileSize = plusCut.ntOffset + 248;
  ImageLayout plusTight = plusCut;
  plusTight.fileSize += 8;
  ImageLayout plusEntryCut = plusCut;
  plusEntryCut.fileSize += 7;
  std::vector<uint8_t> short63 = BuildImage(Layout(0x10B, 0x2008));
  short63.resize(63);
  std::vector<uint8_t> badSignature = BuildImage(Layout(0x10B, 0x2008));
  badSignature[0x82] = 'X';

  const ClrCase cases[] = {
      // Normal
      {"PE32 with CLR entry", BuildImage(Layout(0x10B, 0x2008)), true},
      {"PE32 native", BuildImage(Layout(0x10B, 0)), false},
      {"PE32+ with CLR entry", BuildImage(Layout(0x20B, 0x2008)), true},
      {"PE32+ native", BuildImage(Layout(0x20B, 0)), false},
      {"ZM mark", BuildImage(zm), true},
      {"headers end at end of file", BuildImage(pe32Tight), true},
      {"PE32+ entry ends at end of file", BuildImage(plusTight), true},
      // Malformed
      {"empty", {}, false},
      {"63 bytes", short63, false},
      {"no MZ mark", BuildImage(unmarked), false},
      {"bad PE signature", badSignature, false},
      {"ROM magic", BuildImage(rom), false},
      {"PE32 headers one byte short", BuildImage(pe32Short), false},
      {"PE32+ entry outside the file", BuildImage(plusCut), false},
      {"PE32+ entry one byte short", BuildImage(plusEntryCut), false},
      // Hostile NT header offsets: each wraps a 32-bit "offset + 248" back into the file.
      {"offset 0xFFFFFFF0", WithNtOffset(Layout(0x10B, 0x2008), 0xFFFFFFF0u), false},
      {"offset 0xFFFFFF09", WithNtOffset(Layout(0x10B, 0x2008), 0xFFFFFF09u), false},
      {"offset 0xFFFFFFFF", WithNtOffset(Layout(0x10B, 0x2008), 0xFFFFFFFFu), false},
      {"offset 0x80000000", WithNtOffset(Layout(0x10B, 0x2008), 0x80000000u), false},
      {"offset just past the end", WithNtOffset(Layout(0x10B, 0x2008), 0x400 - 247), false},
  };
  for (const ClrCase& c : cases) {
    SCOPED_TRACE(c.name);
    // An exact-size copy, so that a read past the end is a read past the allocation.
    const std::vector<uint8_t> exact(c.bytes);
    EXPECT_EQ(c.clr, IsClrImage(exact.data(), exact.size()));
  }
  EXPECT_FALSE(IsClrImage(nullptr, 0x1000));
}

// The certificate table entry is read from where each layout puts it.
TEST(PeHeader, DataDirectoryByLayout) {
  for (uint16_t magic : {kPe32Magic, kPe32PlusMagic}) {
    SCOPED_TRACE(magic);
    ImageLayout layout = Layout(magic, 0);
    layout.securityOffset = 0x1234;
    layout.securitySize = 0x56;
    const std::vector<uint8_t> bytes = BuildImage(layout);
    PeHeaders headers{};
    ASSERT_TRUE(ParsePeHeaders(bytes.data(), bytes.size(), &headers));
    EXPECT_EQ(0x80u, headers.ntOffset);
    EXPECT_EQ(magic, headers.magic);
    EXPECT_EQ(16u, headers.numberOfRvaAndSizes);
    PeDataDirectory entry{};
    ASSERT_TRUE(GetPeDataDirectory(bytes.data(), bytes.size(), headers, kPeDirectorySecurity,
                                   &entry));
    EXPECT_EQ(0x1234u, entry.virtualAddress);
    EXPECT_EQ(0x56u, entry.size);
  }
}

TEST(PeHeader, FailureLeavesOutputsUntouched) {
  const std::vector<uint8_t> bytes = BuildImage(Layout(0x10B, 0));
  PeHeaders headers{0xBDBDBDBD, 0xBDBD, 0xBDBDBDBD, 0xBDBDBDBDBDBDBDBDull};
  EXPECT_FALSE(ParsePeHeaders(bytes.data(), 100, &headers));
  EXPECT_EQ(0xBDBDBDBDu, headers.ntOffset);
  EXPECT_EQ(0xBDBDBDBDBDBDBDBDull, headers.directoryOffset);

  ASSERT_TRUE(ParsePeHeaders(bytes.data(), bytes.size(), &headers));
  // Entries whose eight bytes run past the end, including indexes far beyond the table.
  for (unsigned index : {97u, 0x10000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(index);
    PeDataDirectory entry{0xDEADBEEF, 0xDEADBEEF};
    EXPECT_FALSE(GetPeDataDirectory(bytes.data(), bytes.size(), headers, index, &entry));
    EXPECT_EQ(0xDEADBEEFu, entry.virtualAddress);
  }
}

}  // namespace
}  // namespace kal
