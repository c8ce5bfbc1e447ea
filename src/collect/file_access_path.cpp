// Access forms of recorded paths: long-path prefix and the way past WOW64 redirection.
#include "collect/file_access_path.h"

#include "support/ascii_case.h"
#include "support/bitness.h"
#include "support/win.h"

namespace kal {
namespace {

bool StartsWithFolded(const std::wstring& text, const std::wstring& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (FoldAsciiLetter(text[i]) != FoldAsciiLetter(prefix[i])) return false;
  return true;
}

const std::wstring& WindowsFolder() {
  static const std::wstring folder = [] {
    wchar_t buffer[MAX_PATH] = {};
    const UINT n = ::GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
  }();
  return folder;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

std::wstring ExtendedLengthPath(const std::wstring& path) {
  if (path.size() < MAX_PATH) return path;
  // The prefixed form is taken literally, so resolve slashes, "." and ".." first.
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  if (full.compare(0, 2, L"\\\\") == 0 && full.size() > 2 && full[2] != L'?' && full[2] != L'.')
    return L"\\\\?\\UNC\\" + full.substr(2);
  return path;
}

std::wstring SysnativePath(const std::wstring& path, const std::wstring& windowsFolder) {
  if (windowsFolder.empty()) return std::wstring();
  std::wstring folder = windowsFolder;
  if (folder.back() == L'\\') folder.pop_back();
  const std::wstring system32 = folder + L"\\system32";
  if (!StartsWithFolded(path, system32)) return std::wstring();
  if (path.size() > system32.size() && path[system32.size()] != L'\\') return std::wstring();  // "system32x"
  return folder + L"\\Sysnative" + path.substr(system32.size());
}

std::wstring FileAccessPath(const std::wstring& path) {
  std::wstring access = ExtendedLengthPath(path);
  if (!RunsUnderWow64()) return access;
  const std::wstring native = SysnativePath(path, WindowsFolder());
  if (native.empty() || Exists(access)) return access;
  std::wstring nativeAccess = ExtendedLengthPath(native);
  return Exists(nativeAccess) ? nativeAccess : access;
}

}  // namespace kal
