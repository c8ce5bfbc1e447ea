// Path resolution on the Wine machine: real files in a temp folder and in the system folders,
// the prefix's real drive devices, environment variables, shortcuts and class ids.
#include "autoruns/path_resolution.h"

#include <gtest/gtest.h>

#include "analyzer_fixture.h"

namespace kal {
namespace {

using test::CTempDir;
using test::Narrow;

class PathResolutionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitPathContext();
    dir = temp.MakeFolder(L"App Dir");
    exe = ResolveFilePath(temp.WriteFile(L"App Dir\\app.exe", "MZ"));
  }
  static std::wstring System32(const std::wstring& name) { return g_WindowsDir + L"\\System32\\" + name; }

  CTempDir temp;
  std::wstring dir, exe;
};

TEST_F(PathResolutionTest, ContextOfThisMachine) {
  ASSERT_GE(g_WindowsDir.size(), 3u);
  EXPECT_TRUE(g_WindowsDir[0] >= L'A' && g_WindowsDir[0] <= L'Z');
  EXPECT_EQ(L":\\", g_WindowsDir.substr(1, 2));
  EXPECT_EQ(0u, g_DriveDevices[2].rfind(L"\\Device\\", 0)) << Narrow(g_DriveDevices[2]);
}

TEST_F(PathResolutionTest, Forms) {
  ASSERT_EQ(L':', exe[1]);
  const std::wstring device = g_DriveDevices[exe[0] - L'A'];
  std::wstring lower = exe;
  lower[0] = static_cast<wchar_t>(lower[0] + 32);
  struct Case {
    std::wstring text, path;
  } const cases[] = {
      // Kernel-style and system forms
      {L"\\??\\" + exe, exe},
      {device + exe.substr(2), exe},
      {L"\\SystemRoot\\System32\\kernel32.dll", System32(L"kernel32.dll")},
      {L"system32\\kernel32.dll", System32(L"kernel32.dll")},
      {L"\\SystemRoot\\System32\\drivers\\missing.sys", g_WindowsDir + L"\\System32\\drivers\\missing.sys"},
      // Quoted with arguments, unquoted with spaces
      {L"\"" + exe + L"\" -autostart", exe},
      {exe + L" /min x", exe},
      {dir + L"\\app /min", exe},
      // Bare names: the system directory before the Windows directory
      {L"notepad", System32(L"notepad.exe")},
      {L"kernel32", System32(L"kernel32.dll")},
      // Missing files are kept whole, drive letter raised
      {L"c:\\nothere\\x.exe -a", L"C:\\nothere\\x.exe -a"},
      {lower, exe},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    EXPECT_PATH_EQ(c.path, ResolveFilePath(c.text));
  }
}

TEST_F(PathResolutionTest, EnvironmentVariablesAreExpandedWhole) {
  ASSERT_TRUE(::SetEnvironmentVariableW(L"VANTORAG_APP", dir.c_str()));
  EXPECT_PATH_EQ(exe, ResolveFilePath(L"%VANTORAG_APP%\\app.exe -x"));
  // An expansion longer than a path buffer comes back whole.
  const std::wstring longDir = L"C:\\" + std::wstring(300, L'l');
  ASSERT_TRUE(::SetEnvironmentVariableW(L"VANTORAG_LONG", longDir.c_str()));
  EXPECT_EQ(longDir + L"\\x.exe", ResolveFilePath(L"%VANTORAG_LONG%\\x.exe"));
  ::SetEnvironmentVariableW(L"VANTORAG_APP", nullptr);
  ::SetEnvironmentVariableW(L"VANTORAG_LONG", nullptr);
}

TEST_F(PathResolutionTest, LocateExecutableKeepsThePathWhenNothingIsFound) {
  std::wstring path = dir + L"\\app";
  EXPECT_TRUE(LocateExecutable(&path));
  EXPECT_PATH_EQ(exe, path);
  path = dir;  // a folder is no file
  EXPECT_FALSE(LocateExecutable(&path));
  EXPECT_EQ(dir, path);
  path.clear();
  EXPECT_FALSE(LocateExecutable(&path));
}

TEST_F(PathResolutionTest, Rundll32CommandsNameTheirDll) {
  EXPECT_PATH_EQ(System32(L"shell32.dll"), ResolveRundll32Command(L"rundll32.exe shell32.dll,Control_RunDLL desk.cpl"));
  EXPECT_PATH_EQ(System32(L"rundll32.exe"), ResolveRundll32Command(L"rundll32.exe"));
  EXPECT_PATH_EQ(exe, ResolveRundll32Command(L"\"" + exe + L"\" shell32.dll,Control_RunDLL"));
}

TEST_F(PathResolutionTest, ShortcutsResolveToTheirTarget) {
  CComInit com;
  ASSERT_TRUE(SUCCEEDED(com.Initialize(COINIT_APARTMENTTHREADED)));
  const std::wstring lnk = temp.Path() + L"\\app.lnk";
  {
    CComPtr<IShellLinkW> link;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()));
    ASSERT_EQ(S_OK, link->SetPath(exe.c_str()));
    CComPtr<IPersistFile> file;
    ASSERT_EQ(S_OK, link.As(&file));
    ASSERT_EQ(S_OK, file->Save(lnk.c_str(), TRUE));
  }
  EXPECT_PATH_EQ(exe, ResolveShortcut(lnk));
  EXPECT_EQ(L"", ResolveShortcut(temp.Path() + L"\\missing.lnk"));
  g_ShellLink.Reset();  // COM ends with this test
}

TEST_F(PathResolutionTest, ClassIdsResolveInTheirView) {
  struct CRecordingAnalyzer : CAutorunAnalyzer {
    void OnAutorunFound(const AutorunRecord&) override {}
  } analyzer;
  test::CTestKey key(L"clsid");
  ASSERT_EQ(S_OK, analyzer.Init(L"", L"S-1-5-18", test::BindingsBelow(key, HiveBindings().twoViews)));
  const std::wstring id = L"{12345678-1234-1234-1234-123456789ABC}";
  key.SetString(L"Software\\Classes\\Wow6432Node\\CLSID\\" + id, nullptr, L"Thirty-two");
  key.SetString(L"Software\\Classes\\Wow6432Node\\CLSID\\" + id + L"\\InprocServer32", nullptr,
                g_WindowsDir + L"\\system32\\gone32.dll");
  key.SetString(L"Software\\Classes\\CLSID\\" + id, nullptr, L"Native");
  key.SetString(L"Software\\Classes\\CLSID\\" + id + L"\\InprocServer32", nullptr, exe);

  std::wstring file = L"sentinel";
  EXPECT_EQ(L"Thirty-two", ResolveClsid(analyzer, id, &file, true));
  EXPECT_EQ(g_WindowsDir + L"\\SysWow64\\gone32.dll", file);
  EXPECT_EQ(L"Native", ResolveClsid(analyzer, id.substr(1, 36), &file, false));  // braces added
  EXPECT_PATH_EQ(exe, file);
  EXPECT_EQ(L"", ResolveClsid(analyzer, L"{00000000-0000-0000-0000-000000000000}", &file, false));
  EXPECT_EQ(L"", file);
}

}  // namespace
}  // namespace kal
