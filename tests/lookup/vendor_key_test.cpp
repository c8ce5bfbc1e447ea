// Vendor keys: the SHA-1 of the signer name's UTF-8 bytes, exactly as given.
#include "lookup/vendor_key.h"

#include <gtest/gtest.h>

#include <string>

namespace kal {
namespace {

std::string Hex(const CSafetyLookupClientBase::CRequest& key) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : key.Key) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

TEST(VendorKey, KnownAnswers) {
  struct Case {
    const wchar_t* signer;
    const char* sha1;
  } const cases[] = {
      {L"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},     // zero bytes
      {L"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},  // no terminator
      {L"ABC", "3c01bdbb26f358bab27f267924aa2c9a03fcfdb8"},  // no case change
      // U+00E9 as C3 A9 and U+20AC as E2 82 AC: the digest of "caf\xC3\xA9 \xE2\x82\xAC"
      {L"caf\u00e9 \u20ac", "eea15cde5befe4b0b0a1e9f36571e0e676aec3a6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "signer '" << c.signer << "'");
    CSafetyLookupClientBase::CRequest key;
    ASSERT_EQ(S_OK, MakeVendorKey(c.signer, &key));
    EXPECT_EQ(c.sha1, Hex(key));
  }
}

}  // namespace
}  // namespace kal
