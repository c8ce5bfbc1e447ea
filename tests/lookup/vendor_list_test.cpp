// Vendor-list text: encodings by mark, the ANSI path through the injected converter, line breaks
// and exact names.
#include "lookup/vendor_list.h"

#include <gtest/gtest.h>

namespace kal {
namespace {

// Stands in for the ANSI code page: upper-cases ASCII so a test can see it was used.
std::wstring UpperAnsi(std::string_view bytes) {
  std::wstring text;
  for (char c : bytes) text.push_back(static_cast<wchar_t>(c >= 'a' && c <= 'z' ? c - 32 : static_cast<uint8_t>(c)));
  return text;
}

std::string Utf16(const std::u16string& text, bool bigEndian) {
  std::string bytes;
  for (char16_t u : text) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return bytes;
}

TEST(VendorListTest, EncodingsAndLineBreaks) {
  const VendorNames four = {L"Alpha Ltd", L"Beta", L"gamma", L"Delta \u00e9"};
  const std::u16string four16 = u"Alpha Ltd\r\nBeta\n\rgamma\n\nDelta \u00e9";
  struct Case {
    const char* name;
    std::string bytes;
    VendorNames expected;
  };
  const Case cases[] = {
      // Each mark with the three separators in turn.
      {"utf-8", "\xEF\xBB\xBF" "Alpha Ltd\r\nBeta\n\rgamma\n\nDelta \xC3\xA9", four},
      {"utf-16le", "\xFF\xFE" + Utf16(four16, false), four},
      {"utf-16be", "\xFE\xFF" + Utf16(four16, true), four},
      {"utf-16be odd byte dropped", "\xFE\xFF" + Utf16(u"Ab\n", true) + "x", {L"Ab"}},
      {"utf-16le surrogate pair kept", "\xFF\xFE" + Utf16(u"\U0001F600", false), {std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}}},
      // No mark: the ANSI converter decides.
      {"ansi", "alpha\r\nbeta", {L"ALPHA", L"BETA"}},
      {"mark-like prefix is ansi", "\xEF\xBB" "a", {L"\u00EF\u00BBA"}},
      // Empty lines, lone CRs and spaces.
      {"empty lines ignored", "\xEF\xBB\xBF\n\n\r\nA\n\n\n\r\r\nB\n", {L"A", L"B"}},
      {"CR LF CR LF is two breaks", "\xEF\xBB\xBF" "A\r\n\r\nB", {L"A", L"B"}},
      {"lone CR is part of the name", "\xEF\xBB\xBF" "A\rB", {L"A\rB"}},
      {"spaces kept", "\xEF\xBB\xBF" " Beta \nBeta", {L" Beta ", L"Beta"}},
      {"only a mark", "\xFF\xFE", {}},
      {"empty", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, ReadVendorList(c.bytes, UpperAnsi));
  }
}

TEST(VendorListTest, DownloadedListIsUtf8WithOrWithoutMark) {
  EXPECT_EQ((VendorNames{L"Acme", L"Z\u00fc"}), ReadDownloadedVendorList("\xEF\xBB\xBF" "Acme\r\nZ\xC3\xBC\r\n"));
  EXPECT_EQ((VendorNames{L"Acme"}), ReadDownloadedVendorList("Acme"));
  // A UTF-16 mark means nothing here: its bytes are malformed UTF-8.
  EXPECT_EQ((VendorNames{L"\uFFFD\uFFFDA"}), ReadDownloadedVendorList("\xFF\xFE" "A"));
}

TEST(VendorListTest, Utf8Decoding) {
  struct Case {
    const char* bytes;
    std::wstring expected;
  };
  const Case cases[] = {
      {"a\xC3\xA9\xE2\x82\xAC", L"a\u00e9\u20ac"},
      {"\xF0\x9F\x98\x80", std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}},
      // Malformed
      {"\xC0\xAF", L"\uFFFD\uFFFD"},             // overlong lead
      {"\xE0\x80\xAF", L"\uFFFD"},               // overlong three-byte form
      {"\xED\xA0\x80", L"\uFFFD"},               // encoded surrogate
      {"\xE2\x82" "A", L"\uFFFDA"},              // truncated before ASCII
      {"\xE2\x82", L"\uFFFD"},                   // truncated at the end
      {"\x80", L"\uFFFD"},                       // stray continuation
      {"\xF4\x90\x80\x80", L"\uFFFD"},           // above U+10FFFF
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(c.expected, DecodeUtf8(c.bytes));
  }
}

TEST(VendorListTest, NamesAreExact) {
  // Case and trailing spaces make different names; a signer must match a line exactly.
  const VendorNames names = ReadVendorList("\xEF\xBB\xBF" "Acme Corp\nacme corp\nAcme Corp \n", nullptr);
  EXPECT_EQ((VendorNames{L"Acme Corp", L"acme corp", L"Acme Corp "}), names);
  EXPECT_EQ(VendorNames(), ReadVendorList("no mark, no converter", nullptr));
}

}  // namespace
}  // namespace kal
