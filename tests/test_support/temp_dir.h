// A private temporary folder for one test, removed with everything in it when the test ends.
#pragma once

#include <string>

#include "support/handles.h"


namespace kal {
namespace test {

class CTempDir {
 public:
  CTempDir() {
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    static LONG counter = 0;
    path_ = std::wstring(base) + L"vantorag_test_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
            std::to_wstring(::InterlockedIncrement(&counter));
    ::CreateDirectoryW(path_.c_str(), nullptr);
  }
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;
  ~CTempDir() { RemoveTree(path_); }

  const std::wstring& Path() const { return path_; }

  // Creates (or replaces) a file under the folder with the given bytes; returns its full path.
  std::wstring WriteFile(const std::wstring& relative, const std::string& bytes) const {
    const std::wstring full = path_ + L"\\" + relative;
    CFileHandle file(::CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return full;
  }

  std::wstring MakeFolder(const std::wstring& relative) const {
    const std::wstring full = path_ + L"\\" + relative;
    ::CreateDirectoryW(full.c_str(), nullptr);
    return full;
  }

  // The whole content of a file; empty when it can't be read.
  static std::string ReadFile(const std::wstring& path) {
    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    if (!file) return bytes;
    char chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
    return bytes;
  }

  // Removes a tree through the extended-length form, so paths over 260 characters go too.
  // Links to folders are removed themselves, never followed.
  static void RemoveTree(const std::wstring& path) {
    if (path.empty()) return;
    RemoveExtended(path.compare(0, 4, L"\\\\?\\") == 0 ? path : L"\\\\?\\" + path);
  }

 private:
  static void RemoveExtended(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    CFindHandle find(::FindFirstFileW((dir + L"\\*").c_str(), &data));
    if (find) {
      do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring full = dir + L"\\" + name;
        ::SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        const DWORD attributes = data.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
          RemoveExtended(full);
        else if (!::DeleteFileW(full.c_str()))
          ::RemoveDirectoryW(full.c_str());  // a link to a folder
      } while (::FindNextFileW(find.Get(), &data));
    }
    find.Reset();
    ::RemoveDirectoryW(dir.c_str());
  }

  std::wstring path_;
};

}  // namespace test
}  // namespace kal
