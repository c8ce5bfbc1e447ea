// Wildcard matching of file masks against whole paths: "*" any run (dots included), "?" one
// character other than ".", letters A-Z compared without case. Portable: no Windows headers.
#pragma once

#include <string_view>

namespace kal {

bool MatchMask(std::wstring_view mask, std::wstring_view path);

}  // namespace kal
