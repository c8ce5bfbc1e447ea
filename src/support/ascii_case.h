// Letter-case folding for A-Z only: the module key, the mask matcher and path prefixes compare
// paths this way, leaving every other character as it is. Portable: no Windows headers.
#pragma once

namespace kal {

inline wchar_t FoldAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

}  // namespace kal
