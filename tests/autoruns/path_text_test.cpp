// The text steps of autorun path resolution over a made-up machine: a Windows directory, two
// drive devices and a fixed set of files.
#include "autoruns/path_text.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace kal {
namespace {

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

class CFakeMachine : public IPathEnvironment {
 public:
  CFakeMachine() {
    devices_[2] = L"\\Device\\HarddiskVolume2";
    devices_[3] = L"\\Device\\HarddiskVolume22";  // a longer device name that C's is a prefix of
    files_ = {L"C:\\Windows\\System32\\notepad.exe", L"C:\\Windows\\notepad.exe", L"C:\\Windows\\regedit.exe",
              L"C:\\Program Files\\App\\app.exe",    L"C:\\Tools\\a.exe",         L"D:\\tool.dll",
              L"C:\\Windows\\System32\\shell32.dll", L"\\\\srv\\share\\f.exe"};
  }
  const std::wstring& WindowsDir() const override { return windows_; }
  const std::wstring& DriveDevice(int index) const override { return devices_[index]; }
  bool IsFile(const std::wstring& path) const override {
    probes.push_back(path);
    for (const std::wstring& f : files_)
      if (EqualsNoCase(f, path)) return true;
    return false;
  }
  bool Expand(const std::wstring& text, std::wstring* out) const override {
    const std::wstring var = L"%ProgramFiles%";
    const size_t at = text.find(var);
    if (at == std::wstring::npos) return false;
    *out = text.substr(0, at) + L"C:\\Program Files" + text.substr(at + var.size());
    return true;
  }
  bool LongForm(const std::wstring&, std::wstring*) const override { return false; }

  mutable std::vector<std::wstring> probes;

 private:
  std::wstring windows_ = L"C:\\Windows";
  std::wstring devices_[26];
  std::set<std::wstring> files_;
};

TEST(NextToken, SplitsAsTheCatalogueReadsLists) {
  struct Case {
    const wchar_t* text;
    bool quoteAware;
    std::vector<std::wstring> tokens;
  } const cases[] = {
      // Separators, repeated and leading
      {L"a.dll, b.dll  c.dll", false, {L"a.dll", L"b.dll", L"c.dll"}},
      {L" ,,x", false, {L"x"}},
      {L"", false, {}},
      {L" , ", false, {}},
      // Quotes without quote awareness are text
      {L"\"a b\",c", false, {L"\"a", L"b\"", L"c"}},
      // Quote-aware: a quoted run is one token, empty pairs and an unmatched quote are skipped
      {L"\"C:\\Program Files\\x.exe\" /s", true, {L"C:\\Program Files\\x.exe", L"/s"}},
      {L"\"\"x", true, {L"x"}},
      {L"\"x", true, {L"x"}},
      {L"rundll32.exe setupapi.dll,InstallHinfSection DefaultInstall 128 x.inf", true,
       {L"rundll32.exe", L"setupapi.dll", L"InstallHinfSection", L"DefaultInstall", L"128", L"x.inf"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    std::wstring rest = c.text;
    std::vector<std::wstring> tokens;
    for (std::wstring t = NextToken(&rest, L" ,", c.quoteAware); !t.empty(); t = NextToken(&rest, L" ,", c.quoteAware))
      tokens.push_back(t);
    EXPECT_EQ(c.tokens, tokens);
    EXPECT_EQ(L"", rest);
  }
}

TEST(NextToken, LeavesTheRestAfterTheSeparator) {
  std::wstring rest = L"one,two three";
  EXPECT_EQ(L"one", NextToken(&rest, L",", false));
  EXPECT_EQ(L"two three", rest);
}

TEST(FileNameOf, NameAndBase) {
  EXPECT_EQ(L"x.dll", FileNameOf(L"C:\\a.b\\x.dll", false));
  EXPECT_EQ(L"x", FileNameOf(L"C:\\a.b\\x.dll", true));
  EXPECT_EQ(L"archive.tar", FileNameOf(L"archive.tar.gz", true));
  EXPECT_EQ(L"noext", FileNameOf(L"C:\\dir.d\\noext", true));
  EXPECT_EQ(L"", FileNameOf(L"C:\\dir\\", false));
  EXPECT_EQ(L"", FileNameOf(L"", true));
}

TEST(IsGuidString, BracedShapeOnly) {
  EXPECT_TRUE(IsGuidString(L"{083863F1-70DE-11d0-BD40-00A0C911CE86}"));
  EXPECT_TRUE(IsGuidString(L"{zzzzzzzz-zzzz-zzzz-zzzz-zzzzzzzzzzzz}"));  // only the shape counts
  EXPECT_FALSE(IsGuidString(L"083863F1-70DE-11d0-BD40-00A0C911CE86"));
  EXPECT_FALSE(IsGuidString(L"{083863F1-70DE-11d0-BD40-00A0C911CE86"));
  EXPECT_FALSE(IsGuidString(L"{083863F1-70DE-11d0-BD40-00A0C911CE86}x"));
  EXPECT_FALSE(IsGuidString(L"{083863F1x70DE-11d0-BD40-00A0C911CE86}"));
  EXPECT_FALSE(IsGuidString(L""));
}

TEST(ResolvePathText, Forms) {
  struct Case {
    const wchar_t* text;
    const wchar_t* path;
  } const cases[] = {
      // Kernel-style prefixes
      {L"\\??\\C:\\Tools\\a.exe", L"C:\\Tools\\a.exe"},
      {L"\\\\?\\C:\\Tools\\a.exe", L"C:\\Tools\\a.exe"},
      {L"\\SystemRoot\\System32\\drivers\\y.sys", L"C:\\Windows\\System32\\drivers\\y.sys"},
      {L"system32\\DRIVERS\\z.sys", L"C:\\Windows\\system32\\DRIVERS\\z.sys"},
      {L"\\system32\\z.sys", L"C:\\Windows\\system32\\z.sys"},
      {L"SysWOW64\\z.sys", L"C:\\Windows\\SysWOW64\\z.sys"},
      {L"\\syswow64\\z.sys", L"C:\\Windows\\syswow64\\z.sys"},
      {L"\\Windows\\regedit.exe", L"C:\\Windows\\regedit.exe"},
      {L"\\Device\\HarddiskVolume2\\Tools\\a.exe", L"C:\\Tools\\a.exe"},
      {L"\\Device\\HarddiskVolume22\\tool.dll", L"D:\\tool.dll"},
      {L"\\Device\\HarddiskVolume9\\x.exe", L"\\Device\\HarddiskVolume9\\x.exe"},
      {L"\\Device\\LanmanRedirector\\srv\\share\\f.exe", L"\\\\srv\\share\\f.exe"},
      {L"\\Device\\Mup\\srv\\share\\f.exe", L"\\\\srv\\share\\f.exe"},
      // Quotes and arguments
      {L"\"C:\\Program Files\\App\\app.exe\" -autostart", L"C:\\Program Files\\App\\app.exe"},
      {L"\"C:\\Program Files\\App\\app.exe", L"\"C:\\Program Files\\App\\app.exe"},
      {L"C:\\Program Files\\App\\app.exe /min", L"C:\\Program Files\\App\\app.exe"},
      {L"C:\\Program Files\\App\\app /min", L"C:\\Program Files\\App\\app.exe"},
      // Bare names: system directory before the Windows directory, extensions tried
      {L"notepad", L"C:\\Windows\\System32\\notepad.exe"},
      {L"regedit", L"C:\\Windows\\regedit.exe"},
      {L"shell32.dll", L"C:\\Windows\\System32\\shell32.dll"},
      {L"tool", L"Tool"},  // not found: only the first letter changes
      // Expansion, missing files, drive letter case
      {L"%ProgramFiles%\\App\\app.exe", L"C:\\Program Files\\App\\app.exe"},
      {L"C:\\missing\\x.exe -a b", L"C:\\missing\\x.exe -a b"},
      {L"d:\\tool", L"D:\\tool.dll"},
      {L"c:\\missing.exe", L"C:\\missing.exe"},
      {L"", L""},
  };
  CFakeMachine machine;
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    EXPECT_EQ(std::wstring(c.path), ResolvePathText(c.text, machine));
  }
}

TEST(LocateExecutable, RelativePathsNeverProbeTheCurrentDirectory) {
  CFakeMachine machine;
  std::wstring path = L"x";
  EXPECT_FALSE(LocateExecutableIn(&path, machine));
  EXPECT_EQ(L"x", path);
  const std::vector<std::wstring> expected = {
      L"C:\\Windows\\System32\\x", L"C:\\Windows\\System32\\x.exe", L"C:\\Windows\\System32\\x.dll",
      L"C:\\Windows\\System32\\x.com", L"C:\\Windows\\x", L"C:\\Windows\\x.exe", L"C:\\Windows\\x.dll",
      L"C:\\Windows\\x.com"};
  EXPECT_EQ(expected, machine.probes);
}

TEST(ToSysWow64In, MovesOnlyTheSystemDirectory) {
  EXPECT_EQ(L"C:\\Windows\\SysWow64\\a.dll", ToSysWow64In(L"c:\\windows\\SYSTEM32\\a.dll", L"C:\\Windows"));
  EXPECT_EQ(L"C:\\Windows\\system32x\\a.dll", ToSysWow64In(L"C:\\Windows\\system32x\\a.dll", L"C:\\Windows"));
  EXPECT_EQ(L"D:\\system32\\a.dll", ToSysWow64In(L"D:\\system32\\a.dll", L"C:\\Windows"));
}

}  // namespace
}  // namespace kal
