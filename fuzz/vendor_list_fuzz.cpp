// Fuzzes the vendor-list reader: whatever the bytes, every name is a non-empty run of UTF-16
// units without LF, and UTF-8 decoding never yields more units than there were bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "lookup/vendor_list.h"

namespace {

void Check(const kal::VendorNames& names) {
  for (const std::wstring& name : names) {
    if (name.empty() || name.find(L'\n') != std::wstring::npos) std::abort();
    for (wchar_t c : name)
      if (static_cast<uint32_t>(c) > 0xFFFF) std::abort();  // UTF-16 units only
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto latin1 = [](std::string_view b) {
    std::wstring text;
    for (char c : b) text.push_back(static_cast<wchar_t>(static_cast<uint8_t>(c)));
    return text;
  };
  Check(kal::ReadVendorList(bytes, latin1));
  Check(kal::ReadDownloadedVendorList(bytes));
  const std::wstring decoded = kal::DecodeUtf8(bytes);
  if (decoded.size() > size) std::abort();
  return 0;
}
