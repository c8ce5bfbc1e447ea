// CHiveParser: every read opens its key, reads and closes it; sizes are queried before reading.
#include "collect/hive_parser.h"

#include <atomic>
#include <cstring>

#include "support/handles.h"

namespace kal {
namespace {

constexpr DWORD kSubkeyNameChars = 256;
constexpr DWORD kValueNameChars = 16383;

std::atomic<uint64_t> g_opens{0};

// Size and type first, then the data; a value that grew in between is read again.
LONG QueryValue(HKEY key, const wchar_t* value, std::vector<uint8_t>* data, DWORD* type) {
  DWORD size = 0;
  LONG error = ::RegQueryValueExW(key, value, nullptr, type, nullptr, &size);
  for (int round = 0; error == ERROR_SUCCESS && round < 4; ++round) {
    data->assign(size, 0);
    if (size == 0) return ERROR_SUCCESS;
    DWORD read = size;
    error = ::RegQueryValueExW(key, value, nullptr, type, data->data(), &read);
    if (error == ERROR_SUCCESS) {
      data->resize(read);
      return ERROR_SUCCESS;
    }
    if (error != ERROR_MORE_DATA) break;
    size = read > size ? read : size * 2;
    error = ERROR_SUCCESS;
  }
  data->clear();
  return error == ERROR_SUCCESS ? ERROR_MORE_DATA : error;
}

}  // namespace

std::wstring RegistryText(const uint8_t* data, size_t size) {
  std::wstring text;
  const size_t units = size / 2;
  text.reserve(units);
  for (size_t i = 0; i < units; ++i) {
    uint16_t c;
    std::memcpy(&c, data + 2 * i, 2);
    if (c == 0) break;
    text.push_back(static_cast<wchar_t>(c));
  }
  return text;
}

uint64_t CHiveParser::OpenCount() { return g_opens.load(std::memory_order_relaxed); }

LONG CHiveParser::Open(const std::wstring& subkey, HKEY* key) const {
  g_opens.fetch_add(1, std::memory_order_relaxed);
  const std::wstring path = prefix_ + subkey;
  return ::RegOpenKeyExW(root_, path.c_str(), 0, KEY_READ | view_, key);
}

bool CHiveParser::KeyExists(const std::wstring& subkey) const {
  CRegKey key;
  return Open(subkey, key.Put()) == ERROR_SUCCESS;
}

LONG CHiveParser::ReadBinary(const std::wstring& subkey, const wchar_t* value, std::vector<uint8_t>* data,
                             DWORD* type) const {
  CRegKey key;
  LONG error = Open(subkey, key.Put());
  if (error != ERROR_SUCCESS) return error;
  DWORD valueType = REG_NONE;
  std::vector<uint8_t> bytes;
  error = QueryValue(key.Get(), value, &bytes, &valueType);
  if (error != ERROR_SUCCESS) return error;
  *data = std::move(bytes);
  if (type) *type = valueType;
  return ERROR_SUCCESS;
}

LONG CHiveParser::ReadDword(const std::wstring& subkey, const wchar_t* value, DWORD* out) const {
  CRegKey key;
  LONG error = Open(subkey, key.Put());
  if (error != ERROR_SUCCESS) return error;
  DWORD type = REG_NONE, result = 0, size = sizeof(result);
  error = ::RegQueryValueExW(key.Get(), value, nullptr, &type, reinterpret_cast<BYTE*>(&result), &size);
  if (error != ERROR_SUCCESS) return error;
  if (type != REG_DWORD) return ERROR_INVALID_PARAMETER;
  *out = result;  // a shorter REG_DWORD keeps its zero high bytes
  return ERROR_SUCCESS;
}

LONG CHiveParser::ReadString(const std::wstring& subkey, const wchar_t* value, std::wstring* out) const {
  std::vector<uint8_t> data;
  DWORD type = REG_NONE;
  const LONG error = ReadBinary(subkey, value, &data, &type);
  if (error != ERROR_SUCCESS) return error;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_PARAMETER;
  *out = RegistryText(data.data(), data.size());
  return ERROR_SUCCESS;
}

LONG CHiveParser::ReadStringList(const std::wstring& subkey, const wchar_t* value,
                                 std::vector<std::wstring>* out) const {
  out->clear();
  std::vector<uint8_t> data;
  DWORD type = REG_NONE;
  const LONG error = ReadBinary(subkey, value, &data, &type);
  if (error != ERROR_SUCCESS) return error;
  if (data.size() < 2) return ERROR_SUCCESS;
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::wstring text = RegistryText(data.data(), data.size());
    if (!text.empty()) out->push_back(std::move(text));
  } else if (type == REG_MULTI_SZ) {
    for (size_t offset = 0; offset + 1 < data.size();) {
      std::wstring element = RegistryText(data.data() + offset, data.size() - offset);
      if (element.empty()) break;
      offset += (element.size() + 1) * 2;
      out->push_back(std::move(element));
    }
  }
  return ERROR_SUCCESS;
}

LONG CHiveParser::EnumSubkeys(const std::wstring& subkey, std::vector<std::wstring>* names) const {
  names->clear();
  CRegKey key;
  LONG error = Open(subkey, key.Put());
  if (error != ERROR_SUCCESS) return error;
  DWORD count = 0;
  error = ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr);
  if (error != ERROR_SUCCESS) return error;
  wchar_t name[kSubkeyNameChars];
  for (DWORD i = 0; i < count; ++i) {
    DWORD length = kSubkeyNameChars;
    if (::RegEnumKeyExW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
      names->emplace_back(name, length);
  }
  return ERROR_SUCCESS;
}

LONG CHiveParser::EnumValues(const std::wstring& subkey, std::vector<HiveValue>* values) const {
  values->clear();
  CRegKey key;
  LONG error = Open(subkey, key.Put());
  if (error != ERROR_SUCCESS) return error;
  DWORD count = 0, longestData = 0;
  error = ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                             &longestData, nullptr, nullptr);
  if (error != ERROR_SUCCESS) return error;
  std::vector<wchar_t> name(kValueNameChars + 1);
  std::vector<uint8_t> data(longestData);
  for (DWORD i = 0; i < count; ++i) {
    DWORD nameLength = kValueNameChars + 1, type = REG_NONE, size = longestData;
    if (::RegEnumValueW(key.Get(), i, name.data(), &nameLength, nullptr, &type, data.empty() ? nullptr : data.data(),
                        &size) != ERROR_SUCCESS)
      continue;
    HiveValue entry;
    entry.Name.assign(name.data(), nameLength);
    entry.Type = type;
    entry.Data.assign(data.begin(), data.begin() + (size < data.size() ? size : data.size()));
    values->push_back(std::move(entry));
  }
  return ERROR_SUCCESS;
}

}  // namespace kal
