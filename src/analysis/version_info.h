// The version resource of a file: the fixed version numbers and the nine texts of its first
// translation, trimmed of white space.
#pragma once

#include <cstdint>
#include <string>

namespace kal {

struct FourPartVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t build = 0;
  uint16_t revision = 0;
};

struct VersionRecord {
  bool valid = false;  // the version block could be read
  FourPartVersion fileVersion;
  std::wstring FileVersion;
  std::wstring FileDescription;
  std::wstring ProductName;
  FourPartVersion productVersion;
  std::wstring ProductVersion;
  std::wstring CompanyName;
  std::wstring Comments;
  std::wstring LegalCopyright;
  std::wstring LegalTrademarks;
  std::wstring OriginalFilename;
};

// Never fails: a file without a readable version block gives valid false and everything empty.
// Only the first translation's string table is read; a block without a translation table is
// still valid (with empty texts).
VersionRecord ReadVersionInfo(const std::wstring& path);

// `text` without the characters iswspace accepts at either end.
std::wstring TrimWhiteSpace(const wchar_t* text, size_t length);

}  // namespace kal
