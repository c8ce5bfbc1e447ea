// The registry reader through which every autorun location is read: a root key and a key prefix,
// each read opening its key for reading, reading and closing it again. Results are Win32 error
// codes (0 = success); an output is only changed as each operation states.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/win.h"

namespace kal {

struct HiveValue {
  std::wstring Name;
  DWORD Type = REG_NONE;
  std::vector<uint8_t> Data;  // exactly the value's size
};

class CHiveParser {
 public:
  // `view` is added to KEY_READ at every open (0, KEY_WOW64_64KEY or KEY_WOW64_32KEY), so one
  // parser reads one registry view of a 64-bit system.
  CHiveParser() = default;
  CHiveParser(HKEY root, std::wstring prefix, REGSAM view = 0) : root_(root), prefix_(std::move(prefix)), view_(view) {}
  virtual ~CHiveParser() = default;

  HKEY Root() const { return root_; }
  const std::wstring& Prefix() const { return prefix_; }
  REGSAM View() const { return view_; }

  // `subkey` begins with a backslash (or is empty for the prefix itself); a null or empty value
  // name is the key's default value.
  // Size 0 gives an empty buffer and success.
  LONG ReadBinary(const std::wstring& subkey, const wchar_t* value, std::vector<uint8_t>* data, DWORD* type) const;
  // REG_DWORD of at most 4 bytes: more is ERROR_MORE_DATA, another type ERROR_INVALID_PARAMETER.
  LONG ReadDword(const std::wstring& subkey, const wchar_t* value, DWORD* out) const;
  // REG_SZ or REG_EXPAND_SZ (unexpanded) up to the first NUL or the data's end.
  LONG ReadString(const std::wstring& subkey, const wchar_t* value, std::wstring* out) const;
  // REG_MULTI_SZ split up to its first empty element; a non-empty REG_SZ/REG_EXPAND_SZ is one
  // element; any other type an empty list and success.
  LONG ReadStringList(const std::wstring& subkey, const wchar_t* value, std::vector<std::wstring>* out) const;
  // Names of the subkeys; an index that can't be read is skipped.
  LONG EnumSubkeys(const std::wstring& subkey, std::vector<std::wstring>* names) const;
  // Every value with its type and data; an index that can't be read is skipped.
  LONG EnumValues(const std::wstring& subkey, std::vector<HiveValue>* values) const;
  // Whether the key can be opened for reading.
  bool KeyExists(const std::wstring& subkey) const;

  // Keys opened by every parser of the process so far (for the phase's cost figures).
  static uint64_t OpenCount();

 private:
  LONG Open(const std::wstring& subkey, HKEY* key) const;

  HKEY root_ = nullptr;
  std::wstring prefix_;
  REGSAM view_ = 0;
};

// UTF-16 text of registry data up to its first NUL or its end (an odd last byte is dropped).
std::wstring RegistryText(const uint8_t* data, size_t size);

}  // namespace kal
