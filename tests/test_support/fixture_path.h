// Files the build puts beside a test program (fixtures built or signed for it).
#pragma once

#include <string>

#include "support/win.h"

namespace kal {
namespace test {

// "<folder of the running test program>\<relative>".
inline std::wstring FixturePath(const std::wstring& relative) {
  wchar_t self[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self, length);
  folder.resize(folder.find_last_of(L'\\') + 1);
  return folder + relative;
}

}  // namespace test
}  // namespace kal
