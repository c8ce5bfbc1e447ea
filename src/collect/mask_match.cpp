// The mask matcher: a single remembered "*" with backtracking, so it runs in O(mask * path).
#include "collect/mask_match.h"

#include "support/ascii_case.h"

namespace kal {

bool MatchMask(std::wstring_view mask, std::wstring_view path) {
  size_t m = 0, p = 0;
  size_t starMask = std::wstring_view::npos, starPath = 0;
  while (p < path.size()) {
    if (m < mask.size() && mask[m] == L'*') {
      if (m + 1 == mask.size()) return true;  // a trailing "*" takes any remainder
      starMask = ++m;
      starPath = p;
      continue;
    }
    if (m < mask.size()) {
      const wchar_t mc = mask[m];
      const bool same = mc == L'?' ? path[p] != L'.' : FoldAsciiLetter(mc) == FoldAsciiLetter(path[p]);
      if (same) {
        ++m;
        ++p;
        continue;
      }
    }
    if (starMask == std::wstring_view::npos) return false;
    m = starMask;  // let the last "*" take one more character
    p = ++starPath;
  }
  return m == mask.size() || (m + 1 == mask.size() && mask[m] == L'*');
}

}  // namespace kal
