// Splitting of bar-separated option values.
#include "support/text_list.h"

#include <cwctype>

namespace kal {

std::wstring_view TrimSpace(std::wstring_view text) {
  size_t b = 0, e = text.size();
  while (b < e && std::iswspace(static_cast<wint_t>(text[b]))) ++b;
  while (e > b && std::iswspace(static_cast<wint_t>(text[e - 1]))) --e;
  return text.substr(b, e - b);
}

std::vector<std::wstring> SplitBarList(std::wstring_view text) {
  std::vector<std::wstring> tokens;
  size_t start = 0;
  while (start <= text.size()) {
    size_t bar = text.find(L'|', start);
    if (bar == std::wstring_view::npos) bar = text.size();
    const std::wstring_view token = TrimSpace(text.substr(start, bar - start));
    if (!token.empty()) tokens.emplace_back(token);
    start = bar + 1;
  }
  return tokens;
}

}  // namespace kal
