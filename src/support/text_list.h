// Bar-separated lists of the options (scope tokens, file masks): split at "|", trim white space,
// drop empty tokens. Portable: no Windows headers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kal {

std::wstring_view TrimSpace(std::wstring_view text);
std::vector<std::wstring> SplitBarList(std::wstring_view text);

}  // namespace kal
