// Kernel-style module paths to Win32 paths.
#include "collect/module_path.h"

#include <vector>

#include "collect/scan_items.h"
#include "support/win.h"

namespace kal {
namespace {

bool StartsWith(const std::wstring& text, const wchar_t* prefix, size_t length) {
  return text.compare(0, length, prefix) == 0;
}

// ExpandEnvironmentStringsW into a buffer of the size the system asks for, so that an expansion
// longer than MAX_PATH is not turned into an unexpanded (unopenable) path.
bool ExpandEnvironment(const std::wstring& text, std::wstring* expanded) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int attempt = 0; attempt < 3; ++attempt) {
    const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (needed == 0) return false;
    if (needed <= buffer.size()) {
      expanded->assign(buffer.data());
      return true;
    }
    buffer.resize(needed);
  }
  return false;
}

}  // namespace

std::wstring NormalizeModulePath(const std::wstring& path) {
  // Lower-casing first makes the prefix tests below case-insensitive.
  std::wstring result = ModuleKey(path);
  if (StartsWith(result, L"\\??\\", 4)) result.erase(0, 4);
  if (StartsWith(result, L"\\systemroot\\", 12)) result.replace(0, 11, L"%SystemRoot%");
  std::wstring expanded;
  return ExpandEnvironment(result, &expanded) ? expanded : result;
}

}  // namespace kal
