// Value formatting of the report: calendar arithmetic in UTC without the C runtime's time
// functions, so that no time value can make the conversion fail half-way through a report.
#include "report/report_format.h"

#include <cwchar>

namespace kal {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z, in seconds since 1970.
constexpr int64_t kFirstTime = -62135596800ll;
constexpr int64_t kLastTime = 253402300799ll;

struct CivilDate {
  int64_t year;
  unsigned month;  // 1-12
  unsigned day;    // 1-31
};

// Days since 1970-01-01 to a proleptic Gregorian date (eras of 400 years, years starting in March).
CivilDate CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  CivilDate date;
  date.day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  date.month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  date.year = static_cast<int64_t>(yearOfEra) + era * 400 + (date.month <= 2 ? 1 : 0);
  return date;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0); }

const wchar_t kHexDigits[] = L"0123456789ABCDEF";

}  // namespace

bool FormatReportTime(int64_t seconds, std::wstring* text) {
  if (seconds < kFirstTime || seconds > kLastTime) return false;
  const int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const int64_t secondOfDay = seconds - days * kSecondsPerDay;
  const CivilDate date = CivilFromDays(days);
  wchar_t buffer[32];
  std::swprintf(buffer, 32, L"%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year), date.month,
                date.day, static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                static_cast<int>(secondOfDay % 60));
  text->assign(buffer);
  return true;
}

std::wstring ReportTimeText(int64_t seconds) {
  std::wstring text;
  if (!FormatReportTime(seconds, &text)) FormatReportTime(0, &text);
  return text;
}

std::wstring FormatReportDuration(int64_t seconds) {
  // The magnitude as unsigned, so that the most negative value has one too.
  const uint64_t span = seconds < 0 ? 0 - static_cast<uint64_t>(seconds) : static_cast<uint64_t>(seconds);
  const uint64_t remainder = span % kSecondsPerDay;
  wchar_t buffer[48];
  std::swprintf(buffer, 48, L"%ls%lluT%02u:%02u:%02u", seconds < 0 ? L"-" : L"",
                static_cast<unsigned long long>(span / kSecondsPerDay), static_cast<unsigned>(remainder / 3600),
                static_cast<unsigned>(remainder / 60 % 60), static_cast<unsigned>(remainder % 60));
  return buffer;
}

std::wstring FormatHex(const uint8_t* bytes, size_t count) {
  std::wstring text;
  text.reserve(count * 2);
  for (size_t i = 0; i < count; ++i) {
    text.push_back(kHexDigits[bytes[i] >> 4]);
    text.push_back(kHexDigits[bytes[i] & 0x0F]);
  }
  return text;
}

std::wstring FilterReportText(const std::wstring& text) {
  std::wstring kept;
  kept.reserve(text.size());
  const size_t size = text.size();
  for (size_t i = 0; i < size; ++i) {
    const uint32_t c = static_cast<uint32_t>(text[i]);
    if (c < 0x20) {
      if (c == L'\t' || c == L'\n' || c == L'\r') kept.push_back(text[i]);
    } else if (c >= 0xD800 && c <= 0xDBFF) {
      // A high surrogate stays only with the low surrogate that completes it.
      if (i + 1 < size && static_cast<uint32_t>(text[i + 1]) >= 0xDC00 && static_cast<uint32_t>(text[i + 1]) <= 0xDFFF) {
        kept.push_back(text[i]);
        kept.push_back(text[++i]);
      }
    } else if ((c >= 0xDC00 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF || c > 0x10FFFF) {
      // unpaired low surrogate, the two non-characters XML excludes, or no Unicode value at all
    } else {
      kept.push_back(text[i]);
    }
  }
  return kept;
}

const wchar_t* VerdictName(int32_t code) {
  switch (code) {
    case 0: return L"doesntexist";
    case 1: return L"safe";
    case 2: return L"malware";
    case 3: return L"unknown";
    case 4: return L"servererror";
    default: return L"error";
  }
}

const wchar_t* SignerTrustName(int32_t code) {
  switch (code) {
    case 0: return L"doesntexist";
    case 1: return L"safe";
    case 2: return L"deleted";
    default: return L"error";
  }
}

const wchar_t* AnalysisStateName(int32_t code) {
  static const wchar_t* const kNames[] = {
      L"SkippedDetected", L"SkippedMalware", L"SkippedSafe", L"Unexecutable", L"Undefined",
      L"Analysing",       L"Undetected",     L"Suspicious",  L"SuspiciousP",  L"SuspiciousPP",
      L"SuspiciousClass", L"SuspiciousFamily",
  };
  return code >= -4 && code <= 7 ? kNames[code + 4] : nullptr;
}

}  // namespace kal
