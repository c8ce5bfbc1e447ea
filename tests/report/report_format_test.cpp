// The report's value formats against tables of known answers: times, durations, hexadecimal
// digests, the text filter and the names of the verdict codes.
#include "report/report_format.h"

#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace kal {
namespace {

TEST(ReportFormat, Time) {
  struct Case {
    int64_t seconds;
    const wchar_t* text;
  };
  const Case cases[] = {
      // Normal
      {0, L"1970-01-01T00:00:00Z"},
      {1456823107, L"2016-03-01T09:05:07Z"},
      {2147483648ll, L"2038-01-19T03:14:08Z"},
      // Leap days: every fourth year, not 2100, but 2000 and 1600
      {951782400, L"2000-02-29T00:00:00Z"},
      {4107542399ll, L"2100-02-28T23:59:59Z"},
      {4107542400ll, L"2100-03-01T00:00:00Z"},
      {-11670953104ll, L"1600-02-29T12:34:56Z"},
      // Before 1970: days are counted down, the time of day still runs forwards
      {-1, L"1969-12-31T23:59:59Z"},
      {-43200, L"1969-12-31T12:00:00Z"},
      // The ends of the four-digit years
      {32535215999ll, L"3000-12-31T23:59:59Z"},
      {-62135596800ll, L"0001-01-01T00:00:00Z"},
      {253402300799ll, L"9999-12-31T23:59:59Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "seconds " << c.seconds);
    std::wstring text = L"sentinel";
    EXPECT_TRUE(FormatReportTime(c.seconds, &text));
    EXPECT_EQ(c.text, text);
    EXPECT_EQ(c.text, ReportTimeText(c.seconds));
  }
}

TEST(ReportFormat, TimeWithoutFourDigitYearIsNoTime) {
  const int64_t cases[] = {-62135596801ll, 253402300800ll, std::numeric_limits<int64_t>::min(),
                           std::numeric_limits<int64_t>::max()};
  for (int64_t seconds : cases) {
    SCOPED_TRACE(testing::Message() << "seconds " << seconds);
    std::wstring text = L"sentinel";
    EXPECT_FALSE(FormatReportTime(seconds, &text));
    EXPECT_EQ(L"sentinel", text);
    EXPECT_EQ(L"1970-01-01T00:00:00Z", ReportTimeText(seconds));
  }
}

TEST(ReportFormat, Duration) {
  struct Case {
    int64_t seconds;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0, L"0T00:00:00"},
      {59, L"0T00:00:59"},
      {330, L"0T00:05:30"},
      {3600, L"0T01:00:00"},
      {86399, L"0T23:59:59"},
      {86400, L"1T00:00:00"},
      {90061, L"1T01:01:01"},
      {1000 * 86400ll + 45296, L"1000T12:34:56"},
      {std::numeric_limits<int64_t>::max(), L"106751991167300T15:30:07"},
      // A negative span keeps its size behind a minus sign
      {-90061, L"-1T01:01:01"},
      {std::numeric_limits<int64_t>::min(), L"-106751991167300T15:30:08"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "seconds " << c.seconds);
    EXPECT_EQ(c.text, FormatReportDuration(c.seconds));
  }
}

TEST(ReportFormat, Hex) {
  const uint8_t twoBytes[] = {0x00, 0xAB};
  EXPECT_EQ(L"00AB", FormatHex(twoBytes, 2));
  EXPECT_EQ(L"", FormatHex(twoBytes, 0));

  // The SHA-1 of "abc": 20 bytes, 40 digits
  const uint8_t digest[20] = {0xA9, 0x99, 0x3E, 0x36, 0x47, 0x06, 0x81, 0x6A, 0xBA, 0x3E,
                              0x25, 0x71, 0x78, 0x50, 0xC2, 0x6C, 0x9C, 0xD0, 0xD8, 0x9D};
  EXPECT_EQ(L"A9993E364706816ABA3E25717850C26C9CD0D89D", FormatHex(digest, 20));
  const uint8_t zeros[20] = {};
  EXPECT_EQ(std::wstring(40, L'0'), FormatHex(zeros, 20));
}

TEST(ReportFormat, TextFilter) {
  struct Case {
    const char* name;
    std::wstring text;
    std::wstring kept;
  };
  const Case cases[] = {
      // Normal text passes unchanged, markup characters too (the DOM escapes them)
      {"plain", L"C:\\Windows\\notepad.exe", L"C:\\Windows\\notepad.exe"},
      {"markup", L"a&b<c>\"d'", L"a&b<c>\"d'"},
      {"empty", L"", L""},
      {"latin and CJK", L"\x00e9\x4e2d\xfffd", L"\x00e9\x4e2d\xfffd"},
      // Controls: TAB, LF and CR stay, every other one below U+0020 goes
      {"U+0001", L"a\x0001" L"b", L"ab"},
      {"TAB LF CR", L"a\tb\nc\rd", L"a\tb\nc\rd"},
      {"NUL and U+001F", std::wstring(L"a\0b", 3) + L"\x001f" L"c", L"abc"},
      {"space and DEL", L" \x007f", L" \x007f"},
      // Surrogates: a complete pair stays, a lone half goes
      {"pair", L"a\U0001F600" L"b", L"a\U0001F600" L"b"},
      {"lone high", L"a\xD800" L"b", L"ab"},
      {"lone high at end", L"a\xDBFF", L"a"},
      {"lone low", L"a\xDC00" L"b", L"ab"},
      {"low before high", L"\xDC00\xD800", L""},
      {"two highs then low", L"\xD800\xD800\xDC00", L"\xD800\xDC00"},
      // The two non-characters XML excludes
      {"U+FFFE U+FFFF", L"a\xFFFE" L"b\xFFFF" L"c", L"abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.kept, FilterReportText(c.text));
  }
  if (sizeof(wchar_t) > 2) {
    // Where wchar_t holds code points, a value past U+10FFFF has no character to write
    const std::wstring beyond{L'a', static_cast<wchar_t>(0x110000), L'b'};
    EXPECT_EQ(L"ab", FilterReportText(beyond));
  }
}

TEST(ReportFormat, VerdictNames) {
  struct Case {
    int32_t code;
    const wchar_t* verdict;
    const wchar_t* signer;
  };
  const Case cases[] = {
      {0, L"doesntexist", L"doesntexist"},
      {1, L"safe", L"safe"},
      {2, L"malware", L"deleted"},
      {3, L"unknown", L"error"},
      {4, L"servererror", L"error"},
      // Codes without a name of their own
      {5, L"error", L"error"},
      {9, L"error", L"error"},
      {-1, L"error", L"error"},
      {std::numeric_limits<int32_t>::min(), L"error", L"error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code);
    EXPECT_STREQ(c.verdict, VerdictName(c.code));
    EXPECT_STREQ(c.signer, SignerTrustName(c.code));
  }
}

TEST(ReportFormat, AnalysisStateNames) {
  struct Case {
    int32_t code;
    const wchar_t* name;  // nullptr: no name, the attribute is left out
  };
  const Case cases[] = {
      {-4, L"SkippedDetected"}, {-3, L"SkippedMalware"}, {-2, L"SkippedSafe"}, {-1, L"Unexecutable"},
      {0, L"Undefined"},        {1, L"Analysing"},       {2, L"Undetected"},   {3, L"Suspicious"},
      {4, L"SuspiciousP"},      {5, L"SuspiciousPP"},    {6, L"SuspiciousClass"}, {7, L"SuspiciousFamily"},
      // Codes without a name
      {-5, nullptr}, {8, nullptr}, {9, nullptr},
      {std::numeric_limits<int32_t>::min(), nullptr}, {std::numeric_limits<int32_t>::max(), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code);
    if (c.name == nullptr)
      EXPECT_EQ(nullptr, AnalysisStateName(c.code));
    else
      EXPECT_STREQ(c.name, AnalysisStateName(c.code));
  }
}

}  // namespace
}  // namespace kal
