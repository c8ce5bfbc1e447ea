// The certificate-table walk over images built here: where the table is found, which entries
// count, and the malformed lengths, offsets and tables that end the walk.
#include "analysis/certificate_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "pe_image_builder.h"

namespace kal {
namespace {

using testing_pe::BuildImage;
using testing_pe::ImageLayout;
using testing_pe::Put32;

constexpr uint32_t kTable = 0x400;

// An image with a certificate table at 0x400 holding entries of the given lengths (each at the
// next multiple of 8), the table's size as given (0: exactly what the entries cover).
std::vector<uint8_t> ImageWithTable(uint16_t magic, std::vector<uint32_t> lengths, uint32_t tableSize = 0,
                                    size_t extra = 0) {
  uint32_t covered = 0;
  for (uint32_t length : lengths) covered += (length + 7) & ~7u;
  ImageLayout layout;
  layout.magic = magic;
  layout.securityOffset = kTable;
  layout.securitySize = tableSize ? tableSize : covered;
  layout.fileSize = kTable + std::max(covered, layout.securitySize) + extra;
  std::vector<uint8_t> bytes = BuildImage(layout);
  uint32_t at = kTable;
  for (uint32_t length : lengths) {
    Put32(bytes, at, length);
    Put32(bytes, at + 4, 0x00020200);  // revision 2.0, PKCS #7 type
    at += (length + 7) & ~7u;
  }
  return bytes;
}

std::vector<uint32_t> Offsets(const std::vector<uint8_t>& bytes) {
  CMemoryByteSource source(bytes.data(), bytes.size());
  const CertificateEntries found = FindCertificateEntries(source);
  std::vector<uint32_t> offsets;
  for (unsigned i = 0; i < found.count; ++i) offsets.push_back(found.entries[i].offset);
  return offsets;
}

TEST(CertificateTable, LocatesTheSecurityEntryOfEitherLayout) {
  for (uint16_t magic : {uint16_t{0x10B}, uint16_t{0x20B}}) {
    SCOPED_TRACE(magic);
    ImageLayout layout;
    layout.magic = magic;
    layout.securityOffset = 0x1234;
    layout.securitySize = 0x88;
    const std::vector<uint8_t> bytes = BuildImage(layout);
    CMemoryByteSource source(bytes.data(), bytes.size());
    CertificateTableLocation location;
    ASSERT_TRUE(LocateCertificateTable(source, &location));
    EXPECT_EQ(0x1234u, location.offset);
    EXPECT_EQ(0x88u, location.size);
  }
}

TEST(CertificateTable, NoLocationWithoutReadableHeaders) {
  ImageLayout rom;
  rom.magic = 0x107;
  ImageLayout ntPastEnd;
  ntPastEnd.ntOffset = 0xFFFFFFF0;
  ImageLayout shortNt;  // the NT headers are read as 248 bytes, even for a file that ends sooner
  shortNt.fileSize = shortNt.ntOffset + 247;
  for (const ImageLayout& layout : {rom, ntPastEnd, shortNt}) {
    const std::vector<uint8_t> bytes = BuildImage(layout);
    CMemoryByteSource source(bytes.data(), bytes.size());
    CertificateTableLocation location;
    EXPECT_FALSE(LocateCertificateTable(source, &location)) << layout.magic << " " << layout.ntOffset;
  }
  const std::vector<uint8_t> tiny(63, 'M');
  CMemoryByteSource source(tiny.data(), tiny.size());
  CertificateTableLocation location;
  EXPECT_FALSE(LocateCertificateTable(source, &location));
}

TEST(CertificateTable, Walk) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> offsets;
  };
  std::vector<uint8_t> tableBeyondFile = ImageWithTable(0x10B, {0x20});
  tableBeyondFile.resize(tableBeyondFile.size() - 1);
  std::vector<uint8_t> offsetPastFile = ImageWithTable(0x10B, {0x20});
  Put32(offsetPastFile, 0x80 + 24 + 96 + 32, 0xFFFFFFF8);  // offset + size wraps in 32 bits
  std::vector<uint8_t> unaligned = ImageWithTable(0x10B, {13, 0x20});
  const Case cases[] = {
      // Normal
      {"one entry", ImageWithTable(0x10B, {0x20}), {kTable}},
      {"PE32+", ImageWithTable(0x20B, {0x20}), {kTable}},
      {"next entry at the next multiple of 8", unaligned, {kTable, kTable + 16}},
      {"shortest entry", ImageWithTable(0x10B, {11}), {kTable}},
      {"entry filling the table exactly", ImageWithTable(0x10B, {0x21}, 0x21, 7), {kTable}},
      {"only five entries noted", ImageWithTable(0x10B, {16, 16, 16, 16, 16, 16}),
       {kTable, kTable + 16, kTable + 32, kTable + 48, kTable + 64}},
      // Malformed
      {"no table", ImageWithTable(0x10B, {}), {}},
      {"entry shorter than 11 bytes", ImageWithTable(0x10B, {10}), {}},
      {"second entry too short", ImageWithTable(0x10B, {0x20, 8}), {kTable}},
      {"entry longer than the table", ImageWithTable(0x10B, {0x40}, 0x3F), {}},
      {"second entry longer than the rest", ImageWithTable(0x10B, {0x20, 0x40}, 0x50), {kTable}},
      {"table beyond the file", tableBeyondFile, {}},
      {"table offset past the file", offsetPastFile, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.offsets, Offsets(c.bytes));
  }
}

TEST(CertificateTable, EntryLengthsAreTheHeaders) {
  const std::vector<uint8_t> bytes = ImageWithTable(0x10B, {13, 0x30});
  CMemoryByteSource source(bytes.data(), bytes.size());
  const CertificateEntries found = FindCertificateEntries(source);
  ASSERT_EQ(2u, found.count);
  EXPECT_EQ(13u, found.entries[0].length);
  EXPECT_EQ(0x30u, found.entries[1].length);
}

}  // namespace
}  // namespace kal
