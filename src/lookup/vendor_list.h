// Vendor-list text: the byte-order mark picks the encoding, CR LF and LF CR count as one line
// break, and every non-empty line is one signer name, exact. Portable: text without a mark is
// handed to an injected converter (the system's ANSI code page on Windows).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kal {

// Names are UTF-16 code units held in wchar_t (on Windows exactly the signer names' form;
// natively each unit simply sits in a wider wchar_t).
using VendorNames = std::vector<std::wstring>;

// Decodes text that carries no byte-order mark.
using AnsiDecoder = std::function<std::wstring(std::string_view bytes)>;

// UTF-8 to UTF-16 units; a malformed sequence becomes U+FFFD, as the platform's converter does.
std::wstring DecodeUtf8(std::string_view bytes);

// A list file: EF BB BF is UTF-8, FF FE UTF-16LE, FE FF UTF-16BE (a trailing odd byte dropped);
// anything else goes to `ansi`.
VendorNames ReadVendorList(std::string_view bytes, const AnsiDecoder& ansi);

// A downloaded list is always UTF-8; a leading mark is not part of the first name.
VendorNames ReadDownloadedVendorList(std::string_view body);

// The names of decoded text.
VendorNames SplitVendorNames(std::wstring_view text);

}  // namespace kal
