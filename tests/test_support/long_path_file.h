// A file whose full path is longer than MAX_PATH, made under a given folder through the "\\?\"
// form, and removed again (file, then folders, innermost first) when the object ends: the shell's
// tree removal must never meet such a path, since under Wine it then deletes files elsewhere.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "support/handles.h"

namespace kal {
namespace test {

class CLongPathFile {
 public:
  // Folders of at most 60 characters under `base`, then `name`, so that the path is `length`
  // characters long. Valid() tells whether everything could be made.
  CLongPathFile(const std::wstring& base, const std::wstring& name, size_t length, const std::string& bytes) {
    std::wstring folder = base;
    while (folder.size() + 1 + name.size() < length) {
      const size_t room = length - folder.size() - 2 - name.size();
      folder += L"\\" + std::wstring(std::min<size_t>(room, 60), L'd');
      if (!::CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr)) return;
      folders_.push_back(folder);
    }
    folder_ = folder;
    path_ = folder + L"\\" + name;
    CFileHandle file(::CreateFileW((L"\\\\?\\" + path_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    valid_ = file.IsValid() &&
             ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
             written == bytes.size();
  }
  CLongPathFile(const CLongPathFile&) = delete;
  CLongPathFile& operator=(const CLongPathFile&) = delete;
  ~CLongPathFile() {
    if (!path_.empty()) ::DeleteFileW((L"\\\\?\\" + path_).c_str());
    for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder)
      ::RemoveDirectoryW((L"\\\\?\\" + *folder).c_str());
  }

  bool Valid() const { return valid_; }
  const std::wstring& Path() const { return path_; }      // the ordinary form
  const std::wstring& Folder() const { return folder_; }  // the folder that holds the file

 private:
  std::vector<std::wstring> folders_;
  std::wstring folder_;
  std::wstring path_;
  bool valid_ = false;
};

}  // namespace test
}  // namespace kal
