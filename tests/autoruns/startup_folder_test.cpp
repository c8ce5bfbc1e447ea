// Startup folders over real folders and real shortcuts, named through a private registry.
#include "autoruns/startup_folder.h"

#include <map>

#include <shobjidl.h>

#include "analyzer_fixture.h"
#include "support/com.h"

namespace kal {
namespace {

class StartupFolderTest : public test::AnalyzerTest {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(com.Initialize(COINIT_APARTMENTTHREADED))); }
  void TearDown() override { g_ShellLink.Reset(); }  // COM ends with the test

  void Shortcut(const std::wstring& lnk, const std::wstring& target) {
    CComPtr<IShellLinkW> link;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid()));
    ASSERT_EQ(S_OK, link->SetPath(target.c_str()));
    CComPtr<IPersistFile> file;
    ASSERT_EQ(S_OK, link.As(&file));
    ASSERT_EQ(S_OK, file->Save(lnk.c_str(), TRUE));
  }

  static std::map<std::wstring, AutorunRecord> ByName(const std::vector<AutorunRecord>& records) {
    std::map<std::wstring, AutorunRecord> out;
    for (const AutorunRecord& r : records) out[r.entryName] = r;
    return out;
  }

  CComInit com;
};

const wchar_t kShellFolders[] = L"\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

TEST_F(StartupFolderTest, ShortcutsStandForTheirTargetAndFoldersAreNotEntered) {
  const std::wstring app = File(L"Tools\\app.exe");
  const std::wstring dir = temp.MakeFolder(L"Startup");
  Shortcut(dir + L"\\app.lnk", app);
  temp.WriteFile(L"Startup\\desktop.ini", "[.ShellClassInfo]\r\n");
  temp.WriteFile(L"Startup\\CarDisabled", "");
  temp.WriteFile(L"Startup\\broken.lnk", "not a shortcut");
  temp.MakeFolder(L"Startup\\Extra");
  temp.WriteFile(L"Startup\\Extra\\inner.exe", "MZ");
  key.SetString(std::wstring(L"User\\Software") + kShellFolders, L"Startup", dir);

  const auto records = At(Run(0), dir);
  const auto byName = ByName(records);
  ASSERT_EQ(3u, records.size());
  ASSERT_EQ(3u, byName.size());
  EXPECT_PATH_EQ(app, byName.at(L"app.lnk").filePath);
  EXPECT_EQ(ResolveFilePath(dir) + L"\\app.lnk", byName.at(L"app.lnk").itemKey);
  EXPECT_EQ(byName.at(L"app.lnk").itemKey, byName.at(L"app.lnk").entryData);
  EXPECT_EQ(ResolveFilePath(dir) + L"\\Extra", byName.at(L"Extra").filePath);
  EXPECT_EQ(L"", byName.at(L"broken.lnk").filePath);  // the frame drops it; the walk went on
  EXPECT_EQ(0, records[0].category);
}

TEST_F(StartupFolderTest, AllFourFoldersAreReadFromTheirViews) {
  struct Case {
    const wchar_t* view;
    const wchar_t* value;
  } cases[] = {
      {L"User\\Software", L"AltStartup"},
      {L"Software", L"Common AltStartup"},
      {L"Software", L"Common Startup"},
      {L"User\\Software", L"Startup"},
  };
  std::vector<std::wstring> dirs;
  for (const Case& c : cases) {
    const std::wstring dir = temp.MakeFolder(c.value) + L"\\";  // a trailing backslash is kept as read
    File(std::wstring(c.value) + L"\\tool.exe");
    key.SetString(c.view + std::wstring(kShellFolders), c.value, dir);
    dirs.push_back(dir);
  }
  key.SetString(std::wstring(L"User\\Software") + kShellFolders, L"Common Startup", L"");  // only the machine's counts
  const auto all = Run(0);
  std::vector<std::wstring> seen;
  for (const AutorunRecord& r : all)
    if (r.entryName == L"tool.exe") seen.push_back(r.location);
  EXPECT_EQ(dirs, seen);  // once each, in running order
  for (const std::wstring& dir : dirs) EXPECT_PATH_EQ(ResolveFilePath(dir + L"tool.exe"), At(all, dir).at(0).filePath);
}

TEST_F(StartupFolderTest, MissingOrEmptyFoldersReportNothing) {
  key.SetString(std::wstring(L"User\\Software") + kShellFolders, L"Startup", temp.Path() + L"\\absent");
  key.SetString(std::wstring(L"Software") + kShellFolders, L"Common Startup", temp.MakeFolder(L"empty"));
  const auto all = Run(0);
  EXPECT_TRUE(At(all, temp.Path() + L"\\absent").empty());
  EXPECT_TRUE(At(all, temp.Path() + L"\\empty").empty());
}

}  // namespace
}  // namespace kal
