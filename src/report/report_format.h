// The report's value formats: times, durations, hexadecimal digests, the text filter that keeps
// every report well-formed XML, and the names of the verdict codes. Plain C++, no Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kal {

// Seconds since 1970-01-01 00:00 UTC as "%Y-%m-%dT%H:%M:%SZ" (0 gives 1970-01-01T00:00:00Z).
// Only years 1 to 9999 have a four-digit form: false, and `text` untouched, outside them.
bool FormatReportTime(int64_t seconds, std::wstring* text);

// The time attribute's text: a time that has no four-digit-year form is written as no time (0),
// like any other time the system can't represent.
std::wstring ReportTimeText(int64_t seconds);

// A time span as "%DT%H:%M:%S": whole days without leading zeros, then hours, minutes and seconds
// of the remainder, two digits each (330 s -> 0T00:05:30). A negative span gets a leading '-'.
std::wstring FormatReportDuration(int64_t seconds);

// 2 x count upper-case hexadecimal digits, high nibble first.
std::wstring FormatHex(const uint8_t* bytes, size_t count);

// The text with every character that XML 1.0 can't carry removed: controls below U+0020 other
// than TAB, LF and CR, unpaired UTF-16 surrogates, U+FFFE, U+FFFF and (where wchar_t is wider
// than 16 bits) values beyond U+10FFFF. Everything else is unchanged.
std::wstring FilterReportText(const std::wstring& text);

// "doesntexist", "safe", "malware", "unknown", "servererror" for 0-4; "error" for any other code.
const wchar_t* VerdictName(int32_t code);

// "doesntexist", "safe", "deleted" for 0-2; "error" for any other code.
const wchar_t* SignerTrustName(int32_t code);

// The analysis-state name of codes -4 to 7; nullptr for any other code (no attribute is written).
const wchar_t* AnalysisStateName(int32_t code);

}  // namespace kal
