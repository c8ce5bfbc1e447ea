// Reading a file's version resource through the version API.
#include "analysis/version_info.h"

#include <cwchar>
#include <cwctype>
#include <vector>

#include "support/win.h"

namespace kal {
namespace {

FourPartVersion Split(DWORD mostSignificant, DWORD leastSignificant) {
  FourPartVersion v;
  v.major = HIWORD(mostSignificant);
  v.minor = LOWORD(mostSignificant);
  v.build = HIWORD(leastSignificant);
  v.revision = LOWORD(leastSignificant);
  return v;
}

// The string values in the order they are queried, and where each goes.
struct StringValue {
  const wchar_t* name;
  std::wstring VersionRecord::*field;
};
constexpr StringValue kStringValues[] = {
    {L"FileDescription", &VersionRecord::FileDescription},
    {L"FileVersion", &VersionRecord::FileVersion},
    {L"ProductName", &VersionRecord::ProductName},
    {L"ProductVersion", &VersionRecord::ProductVersion},
    {L"CompanyName", &VersionRecord::CompanyName},
    {L"Comments", &VersionRecord::Comments},
    {L"LegalCopyright", &VersionRecord::LegalCopyright},
    {L"LegalTrademarks", &VersionRecord::LegalTrademarks},
    {L"OriginalFilename", &VersionRecord::OriginalFilename},
};

}  // namespace

std::wstring TrimWhiteSpace(const wchar_t* text, size_t length) {
  size_t begin = 0;
  while (begin < length && std::iswspace(static_cast<wint_t>(text[begin]))) ++begin;
  size_t end = length;
  while (end > begin && std::iswspace(static_cast<wint_t>(text[end - 1]))) --end;
  return std::wstring(text + begin, end - begin);
}

VersionRecord ReadVersionInfo(const std::wstring& path) {
  VersionRecord record;
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return record;
  // One byte more than asked for, as some versions of the call write a terminator past the block.
  std::vector<uint8_t> block(size_t{size} + 1);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return record;

  void* value = nullptr;
  UINT valueSize = 0;
  if (::VerQueryValueW(block.data(), L"\\", &value, &valueSize) && value != nullptr &&
      valueSize >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    record.fileVersion = Split(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    record.productVersion = Split(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  }

  if (::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &valueSize) && value != nullptr &&
      valueSize >= 4) {
    const auto* translation = static_cast<const WORD*>(value);
    wchar_t prefix[40];
    std::swprintf(prefix, 40, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
    for (const StringValue& entry : kStringValues) {
      const std::wstring query = std::wstring(prefix) + entry.name;
      wchar_t* text = nullptr;
      UINT length = 0;  // characters, the terminator included when there is one
      if (!::VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) ||
          text == nullptr)
        continue;
      // The length may count the terminator; the text ends at the first NUL either way.
      record.*entry.field = TrimWhiteSpace(text, wcsnlen(text, length));
    }
  }
  record.valid = true;
  return record;
}

}  // namespace kal
