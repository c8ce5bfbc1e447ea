// Vendor-list decoding and line splitting.
#include "lookup/vendor_list.h"

#include <cstdint>

namespace kal {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

void AppendCodePoint(uint32_t cp, std::wstring* out) {
  if (cp < 0x10000) {
    out->push_back(static_cast<wchar_t>(cp));
  } else {
    cp -= 0x10000;
    out->push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  }
}

std::wstring DecodeUtf16(std::string_view bytes, bool bigEndian) {
  std::wstring text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const uint8_t a = static_cast<uint8_t>(bytes[i]), b = static_cast<uint8_t>(bytes[i + 1]);
    text.push_back(static_cast<wchar_t>(bigEndian ? (a << 8 | b) : (b << 8 | a)));
  }
  return text;
}

bool StartsWith(std::string_view bytes, std::string_view mark) { return bytes.substr(0, mark.size()) == mark; }

}  // namespace

std::wstring DecodeUtf8(std::string_view bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const uint8_t lead = static_cast<uint8_t>(bytes[i]);
    if (lead < 0x80) {
      text.push_back(static_cast<wchar_t>(lead));
      ++i;
      continue;
    }
    size_t length = 0;
    uint32_t cp = 0, minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, cp = lead & 0x07, minimum = 0x10000;
    }
    // Take as many continuation bytes as fit; a short or bad sequence yields one replacement
    // for what was consumed, and the byte that broke it starts afresh.
    size_t taken = 1;
    while (length != 0 && taken < length && i + taken < bytes.size() &&
           (static_cast<uint8_t>(bytes[i + taken]) & 0xC0) == 0x80) {
      cp = cp << 6 | (static_cast<uint8_t>(bytes[i + taken]) & 0x3F);
      ++taken;
    }
    if (length != 0 && taken == length && cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF))
      AppendCodePoint(cp, &text);
    else
      text.push_back(kReplacement);
    i += taken;
  }
  return text;
}

VendorNames SplitVendorNames(std::wstring_view text) {
  VendorNames names;
  std::wstring line;
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    const bool pair = i + 1 < text.size() && ((c == L'\r' && text[i + 1] == L'\n') || (c == L'\n' && text[i + 1] == L'\r'));
    if (c == L'\n' || pair) {
      if (pair) ++i;
      if (!line.empty()) names.push_back(std::move(line));
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  if (!line.empty()) names.push_back(std::move(line));
  return names;
}

VendorNames ReadVendorList(std::string_view bytes, const AnsiDecoder& ansi) {
  if (StartsWith(bytes, "\xEF\xBB\xBF")) return SplitVendorNames(DecodeUtf8(bytes.substr(3)));
  if (StartsWith(bytes, "\xFF\xFE")) return SplitVendorNames(DecodeUtf16(bytes.substr(2), false));
  if (StartsWith(bytes, "\xFE\xFF")) return SplitVendorNames(DecodeUtf16(bytes.substr(2), true));
  return ansi ? SplitVendorNames(ansi(bytes)) : VendorNames();
}

VendorNames ReadDownloadedVendorList(std::string_view body) {
  if (StartsWith(body, "\xEF\xBB\xBF")) body.remove_prefix(3);
  return SplitVendorNames(DecodeUtf8(body));
}

}  // namespace kal
