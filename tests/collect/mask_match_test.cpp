// The wildcard matcher against a table of masks and paths.
#include "collect/mask_match.h"

#include <gtest/gtest.h>

namespace kal {
namespace {

struct MaskCase {
  const wchar_t* mask;
  const wchar_t* path;
  bool match;
};

TEST(MaskMatch, Table) {
  const MaskCase cases[] = {
      // Normal
      {L"*.exe", L"C:\\Windows\\notepad.exe", true},
      {L"*.exe", L"C:\\Windows\\NOTEPAD.EXE", true},
      {L"*.dll", L"C:\\A\\B.SYS", false},
      {L"*.dll", L"c:\\a\\b.DLL", true},
      {L"*.*", L"C:\\x", false},
      {L"*.*", L"C:\\x.y", true},
      // "?" is one character but never a dot
      {L"*a?c", L"C:\\abc", true},
      {L"*a?c", L"C:\\a.c", false},
      {L"?", L"", false},
      // "*" backtracks: only the last "*" is remembered
      {L"*ab*cd", L"xxabyyabzzcd", true},
      {L"*.exe", L"a.exe.exe", true},
      {L"*.exe", L"a.exe.ex", false},
      {L"a*b*c", L"aXbYbZc", true},
      // a lone trailing "*" matches any remainder, also none
      {L"abc*", L"abc", true},
      {L"abc*", L"abcdef", true},
      {L"*", L"", true},
      {L"**", L"", false},
      {L"", L"", true},
      {L"", L"a", false},
      // only A-Z fold
      {L"\u00c4.exe", L"\u00e4.exe", false},
      {L"[A].exe", L"[a].EXE", true},
  };
  for (const MaskCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "mask '" << c.mask << "' path '" << c.path << "'");
    EXPECT_EQ(c.match, MatchMask(c.mask, c.path));
  }
}

}  // namespace
}  // namespace kal
