// A private registry key for one test under HKCU\Software\vantorag_test, deleted and recreated
// when the test starts and deleted when it ends, with helpers that write raw values.
#pragma once

#include <string>
#include <vector>

#include "support/handles.h"

namespace kal {
namespace test {

class CTestKey {
 public:
  explicit CTestKey(const std::wstring& name)
      : path_(L"Software\\vantorag_test\\" + name + L"_" + std::to_wstring(::GetCurrentProcessId())) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
    ::RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.Put(), nullptr);
  }
  CTestKey(const CTestKey&) = delete;
  CTestKey& operator=(const CTestKey&) = delete;
  ~CTestKey() {
    key_.Reset();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  }

  // The key's path under HKEY_CURRENT_USER.
  const std::wstring& Path() const { return path_; }

  // Raw bytes of one value of `subkey` ("" for the key itself; created as needed).
  void SetRaw(const std::wstring& subkey, const wchar_t* name, DWORD type, const void* data, size_t size) const {
    CRegKey key;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, Full(subkey).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                      nullptr);
    ::RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
  }
  // Text with its terminating NUL.
  void SetString(const std::wstring& subkey, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) const {
    SetRaw(subkey, name, type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }
  // Strings separated by NULs, with the list's closing NUL.
  void SetMulti(const std::wstring& subkey, const wchar_t* name, const std::vector<std::wstring>& items) const {
    std::wstring data;
    for (const std::wstring& item : items) data += item + L'\0';
    data += L'\0';
    SetRaw(subkey, name, REG_MULTI_SZ, data.data(), data.size() * sizeof(wchar_t));
  }
  void SetDword(const std::wstring& subkey, const wchar_t* name, DWORD value) const {
    SetRaw(subkey, name, REG_DWORD, &value, sizeof(value));
  }
  void MakeKey(const std::wstring& subkey) const {
    CRegKey key;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, Full(subkey).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                      nullptr);
  }
  void DeleteValue(const std::wstring& subkey, const wchar_t* name) const {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, Full(subkey).c_str(), name);
  }

 private:
  std::wstring Full(const std::wstring& subkey) const { return subkey.empty() ? path_ : path_ + L"\\" + subkey; }

  std::wstring path_;
  CRegKey key_;
};

}  // namespace test
}  // namespace kal
