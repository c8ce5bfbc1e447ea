// The autorun catalogue over a private registry: the four views are bound below a test key, so
// every shape, rule and special location is read from fixtures planted here.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "analyzer_fixture.h"

namespace kal {
namespace {

using test::CRecordingAnalyzer;
using test::Narrow;

constexpr const wchar_t* kSid = test::kTestSid;

class CatalogueTest : public test::AnalyzerTest {
 protected:
  void SetUp() override { key.SetDword(L"System\\Select", L"Current", 1); key.MakeKey(L"System\\ControlSet001"); }

  static std::wstring System32(const std::wstring& name) { return g_WindowsDir + L"\\System32\\" + name; }
};

TEST_F(CatalogueTest, RunValuesSkipWrongTypesAndTheDefaultValue) {
  const std::wstring app = File(L"App Dir\\app.exe");
  const std::wstring run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  key.SetString(run, L"App", L"\"" + app + L"\" -autostart");
  key.SetString(run, L"Gone", L"C:\\nothere\\x.exe /a", REG_EXPAND_SZ);
  key.SetDword(run, L"Number", 1);
  key.SetString(run, nullptr, app);
  const auto records = At(Run(0), L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(L"App", records[0].entryName);
  EXPECT_PATH_EQ(app, records[0].filePath);
  EXPECT_EQ(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\App", records[0].itemKey);
  EXPECT_EQ(0, records[0].category);
  EXPECT_EQ(L"Gone", records[1].entryName);
  EXPECT_EQ(L"C:\\nothere\\x.exe /a", records[1].filePath);  // kept whole, arguments included
}

TEST_F(CatalogueTest, UserLocationsReadTheUserViewAndNameTheUserInTheItemKey) {
  const std::wstring app = File(L"u.exe");
  key.SetString(L"User\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Mine", app);
  const auto records = At(Run(0), L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
  ASSERT_EQ(1u, records.size());
  EXPECT_PATH_EQ(app, records[0].filePath);
  EXPECT_EQ(std::wstring(L"HKU\\") + kSid + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Mine",
            records[0].itemKey);
}

TEST_F(CatalogueTest, AppinitListGivesOneRecordPerToken) {
  const std::wstring windows = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
  const std::wstring where = L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\Appinit_Dlls";
  key.SetString(windows, L"Appinit_Dlls", L"a.dll,b.dll c.dll");
  auto records = At(Run(9), where);
  ASSERT_EQ(3u, records.size());
  EXPECT_EQ(L"A.dll", records[0].filePath);  // not found: only the first letter is raised
  EXPECT_EQ(L"b.dll", records[1].entryData);
  EXPECT_EQ(L"c.dll", records[2].entryData);
  EXPECT_EQ(L"Appinit_Dlls", records[2].entryName);
  key.SetString(windows, L"Appinit_Dlls", L"");
  EXPECT_TRUE(At(Run(9), where).empty());
}

TEST_F(CatalogueTest, ServicesAndDriversShareOneKey) {
  const std::wstring services = L"System\\ControlSet001\\Services\\";
  key.SetDword(services + L"svc", L"Start", 2);
  key.SetString(services + L"svc", L"ImagePath", L"C:\\x\\svc.exe -k");
  key.SetDword(services + L"drv", L"Start", 1);
  key.SetString(services + L"drv", L"ImagePath", L"system32\\drivers\\drv.SYS");
  key.SetDword(services + L"bare", L"Start", 3);
  key.SetDword(services + L"shared", L"Start", 2);
  key.SetString(services + L"shared", L"ImagePath", L"svchost.exe -k netsvcs", REG_EXPAND_SZ);
  key.SetString(services + L"shared\\Parameters", L"ServiceDll", L"C:\\x\\shared.dll", REG_EXPAND_SZ);
  key.SetString(services + L"nostart", L"ImagePath", L"C:\\x\\nostart.exe");

  const auto found = Run(4);
  ASSERT_EQ(2u, found.size());
  std::vector<std::wstring> names, files;
  for (const auto& r : found) {
    EXPECT_EQ(L"HKLM\\System\\CurrentControlSet\\Services", r.location);
    names.push_back(r.entryName);
    files.push_back(r.filePath);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::wstring>{L"shared", L"svc"}), names);
  for (const auto& r : found) {
    if (r.entryName == L"shared") {
      EXPECT_EQ(L"C:\\x\\shared.dll", r.filePath);
      EXPECT_EQ(L"C:\\x\\shared.dll", r.entryData);
    } else {
      EXPECT_EQ(L"C:\\x\\svc.exe -k", r.filePath);
    }
  }

  const auto drivers = At(Run(5), L"HKLM\\System\\CurrentControlSet\\Services");
  ASSERT_EQ(2u, drivers.size());
  for (const auto& r : drivers) {
    SCOPED_TRACE(Narrow(r.entryName));
    if (r.entryName == L"bare") {
      EXPECT_EQ(g_WindowsDir + L"\\system32\\drivers\\bare.sys", r.filePath);
      EXPECT_EQ(L"bare", r.entryData);
    } else {
      EXPECT_EQ(L"drv", r.entryName);
      EXPECT_EQ(g_WindowsDir + L"\\system32\\drivers\\drv.SYS", r.filePath);
      EXPECT_EQ(L"HKLM\\System\\CurrentControlSet\\Services\\drv", r.itemKey);
    }
  }
}

TEST_F(CatalogueTest, ControlSetFollowsSelectAndFallsBackWhenMissing) {
  struct Case {
    DWORD current;  // 0: no "Current" value
    bool makeSet;
    const wchar_t* path;
  } const cases[] = {
      {2, true, L"\\ControlSet002"},
      {1, true, L"\\ControlSet001"},
      {5, false, L"\\CurrentControlSet"},
      {0, false, L"\\CurrentControlSet"},
  };
  key.MakeKey(L"System\\ControlSet002");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.current);
    if (c.current != 0)
      key.SetDword(L"System\\Select", L"Current", c.current);
    else
      key.DeleteValue(L"System\\Select", L"Current");
    CRecordingAnalyzer analyzer;
    ASSERT_EQ(S_OK, analyzer.Init(L"", kSid, Bindings()));
    EXPECT_EQ(std::wstring(c.path), analyzer.controlSetPath);
  }

  // Select\Current = 2: the location is read below ControlSet002 and still shown as CurrentControlSet.
  key.SetDword(L"System\\Select", L"Current", 2);
  key.SetMulti(L"System\\ControlSet002\\Control\\Lsa", L"Authentication Packages", {L"msv1_0"});
  key.SetMulti(L"System\\ControlSet001\\Control\\Lsa", L"Authentication Packages", {L"wrong"});
  const auto records = At(Run(14), L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Lsa\\Authentication Packages");
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ(L"msv1_0", records[0].entryData);
  EXPECT_PATH_EQ(System32(L"msv1_0.dll"), records[0].filePath);

  // A set that does not exist: read through CurrentControlSet.
  key.SetDword(L"System\\Select", L"Current", 7);
  key.SetMulti(L"System\\CurrentControlSet\\Control\\Lsa", L"Authentication Packages", {L"fallback"});
  const auto fallback = At(Run(14), L"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Lsa\\Authentication Packages");
  ASSERT_EQ(1u, fallback.size());
  EXPECT_EQ(L"fallback", fallback[0].entryData);
}

TEST_F(CatalogueTest, ClassNamesDecideBrowserHelpersButNotShellHandlers) {
  const std::wstring nameless = L"{11111111-2222-3333-4444-555555555555}";
  const std::wstring named = L"{AAAAAAAA-2222-3333-4444-555555555555}";
  const std::wstring dll = File(L"ext.dll");
  key.MakeKey(L"Software\\Classes\\CLSID\\" + nameless);
  key.SetString(L"Software\\Classes\\CLSID\\" + nameless + L"\\InprocServer32", nullptr, dll);
  key.SetString(L"Software\\Classes\\CLSID\\" + named, nullptr, L"Machine name");
  key.SetString(L"Classes\\CLSID\\" + named, nullptr, L"User name");  // the user's classes win
  key.SetString(L"Classes\\CLSID\\" + named + L"\\InprocServer32", nullptr, dll);

  const std::wstring bho = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects\\";
  key.MakeKey(bho + nameless);
  key.MakeKey(bho + named);
  const auto helpers = At(Run(2), L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects");
  ASSERT_EQ(1u, helpers.size());
  EXPECT_EQ(L"User name", helpers[0].entryName);
  EXPECT_PATH_EQ(dll, helpers[0].filePath);
  EXPECT_EQ(L"HKCR\\CLSID\\" + named, helpers[0].entryData);

  const std::wstring handlers = L"Software\\Classes\\*\\ShellEx\\ContextMenuHandlers\\";
  key.MakeKey(handlers + nameless);
  key.SetString(handlers + L"MyHandler", nullptr, nameless);
  key.SetString(L"Classes\\*\\ShellEx\\ContextMenuHandlers\\UserHandler", nullptr,
                named.substr(1, named.size() - 2));  // without braces
  const auto all = Run(1);
  auto machine = At(all, L"HKLM\\Software\\Classes\\*\\ShellEx\\ContextMenuHandlers");
  ASSERT_EQ(2u, machine.size());
  std::sort(machine.begin(), machine.end(), [](const AutorunRecord& a, const AutorunRecord& b) { return a.entryName < b.entryName; });
  EXPECT_EQ(L"MyHandler", machine[0].entryName);
  EXPECT_PATH_EQ(dll, machine[0].filePath);
  EXPECT_EQ(L"n/a", machine[1].entryName);
  EXPECT_PATH_EQ(dll, machine[1].filePath);
  const auto user = At(all, L"HKCU\\Software\\Classes\\*\\ShellEx\\ContextMenuHandlers");
  ASSERT_EQ(1u, user.size());
  EXPECT_EQ(L"UserHandler", user[0].entryName);
  EXPECT_PATH_EQ(dll, user[0].filePath);
}

TEST_F(CatalogueTest, ExecutableAssociationsAreReportedOnlyWhenChanged) {
  const std::wstring where = L"HKLM\\SOFTWARE\\Classes\\.exe";
  key.SetString(L"Software\\Classes\\.exe", nullptr, L"exefile");
  key.SetString(L"Software\\Classes\\exefile\\shell\\open\\command", nullptr, L"\"%1\" %*");
  key.SetString(L"Software\\Classes\\.bat", nullptr, L"BATFILE");
  key.SetString(L"Software\\Classes\\batfile\\shell\\open\\command", nullptr, L"\"%1\"  %*");
  auto records = Run(8);
  EXPECT_TRUE(At(records, where).empty());
  EXPECT_TRUE(At(records, L"HKLM\\SOFTWARE\\Classes\\exefile\\shell\\open\\command").empty());
  EXPECT_TRUE(At(records, L"HKLM\\SOFTWARE\\Classes\\.bat").empty());
  const auto command = At(records, L"HKLM\\SOFTWARE\\Classes\\batfile\\shell\\open\\command");
  ASSERT_EQ(1u, command.size());
  EXPECT_EQ(L"\"%1\"  %*", command[0].entryName);
  EXPECT_EQ(L"", command[0].filePath);

  key.SetString(L"Software\\Classes\\.exe", nullptr, L"evilfile");
  const auto changed = At(Run(8), where);
  ASSERT_EQ(1u, changed.size());
  EXPECT_EQ(L"evilfile", changed[0].entryName);
  EXPECT_EQ(L"", changed[0].filePath);
}

TEST_F(CatalogueTest, KnownDllsResolveInTheirDirectory) {
  const std::wstring known = L"System\\ControlSet001\\Control\\Session Manager\\KnownDlls";
  const std::wstring where = L"HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\KnownDlls";
  key.SetString(known, L"kernel32", L"kernel32.dll");
  auto records = At(Run(10), where);
  ASSERT_EQ(1u, records.size());
  EXPECT_PATH_EQ(g_WindowsDir + L"\\system32\\kernel32.dll", records[0].filePath);

  const std::wstring own = File(L"known\\own.dll");
  key.SetString(known, L"DllDirectory", temp.Path() + L"\\known", REG_EXPAND_SZ);  // not an entry itself
  key.SetString(known, L"own", L"own.dll");
  records = At(Run(10), where);
  ASSERT_EQ(2u, records.size());
  EXPECT_PATH_EQ(temp.Path() + L"\\known\\kernel32.dll", records[0].filePath);
  EXPECT_PATH_EQ(own, records[1].filePath);
}

TEST_F(CatalogueTest, ActiveSetupTakesTheDllThatRundll32Loads) {
  const std::wstring components = L"Software\\Microsoft\\Active Setup\\Installed Components\\";
  key.SetString(components + L"{A}", L"StubPath",
                L"rundll32.exe setupapi.dll,InstallHinfSection DefaultInstall 128 x.inf");
  key.SetString(components + L"{A}", nullptr, L"Component A");
  key.SetString(components + L"{B}", L"StubPath", L"rundll32.exe");
  key.MakeKey(components + L"{C}");
  auto records = At(Run(0), L"HKLM\\SOFTWARE\\Microsoft\\Active Setup\\Installed Components");
  ASSERT_EQ(2u, records.size());
  std::sort(records.begin(), records.end(), [](const AutorunRecord& a, const AutorunRecord& b) { return a.itemKey < b.itemKey; });
  EXPECT_EQ(L"Component A", records[0].entryName);
  EXPECT_PATH_EQ(System32(L"setupapi.dll"), records[0].filePath);
  EXPECT_EQ(L"n/a", records[1].entryName);
  EXPECT_EQ(L"", records[1].filePath);  // only rundll32 itself: reported without a file
}

TEST_F(CatalogueTest, WinsockCatalogueReadsThePackedPath) {
  const std::wstring entries = L"System\\ControlSet001\\Services\\WinSock2\\Parameters\\Protocol_Catalog9\\Catalog_Entries\\";
  std::string packed = "%SystemRoot%\\system32\\mswsock.dll";
  packed.push_back('\0');
  packed.append(20, '\x7f');
  key.SetRaw(entries + L"000000000001", L"PackedCatalogItem", REG_BINARY, packed.data(), packed.size());
  key.SetRaw(entries + L"000000000002", L"PackedCatalogItem", REG_BINARY, packed.data(), packed.size());
  key.SetString(entries + L"000000000002", L"ProtocolName", L"MSAFD Tcpip");
  key.MakeKey(entries + L"000000000003");
  auto records = At(Run(12), L"HKLM\\System\\CurrentControlSet\\Services\\WinSock2\\Parameters\\Protocol_Catalog9\\Catalog_Entries");
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(L"000000000001", records[0].entryName);
  EXPECT_EQ(L"MSAFD Tcpip", records[1].entryName);
  EXPECT_EQ(L"%SystemRoot%\\system32\\mswsock.dll", records[0].entryData);
  EXPECT_PATH_EQ(System32(L"mswsock.dll"), records[0].filePath);
}

TEST_F(CatalogueTest, InitialProgramNeedsItsInheritFlag) {
  const std::wstring config = L"System\\ControlSet001\\Control\\Terminal Server\\DefaultUserConfiguration";
  const std::wstring where = L"HKLM\\System\\CurrentControlSet\\Control\\Terminal Server\\DefaultUserConfiguration\\InitialProgram";
  key.SetString(config, L"InitialProgram", L"notepad");
  EXPECT_TRUE(At(Run(0), where).empty());
  key.SetDword(config, L"fInheritInitialProgram", 1);
  const auto records = At(Run(0), where);
  ASSERT_EQ(1u, records.size());
  EXPECT_TRUE(EqualsNoCase(L"notepad.exe", records[0].entryName)) << Narrow(records[0].entryName);
}

TEST_F(CatalogueTest, SoftwareLocationsAreReadInBothViewsOfA64BitSystem) {
  const std::wstring app = File(L"both.exe");
  key.SetString(L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"App", app);
  key.SetString(L"User\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Mine", app);
  const auto records = Run(0, true);
  EXPECT_EQ(1u, At(records, L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run").size());
  EXPECT_EQ(1u, At(records, L"HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run").size());
  EXPECT_EQ(1u, At(records, L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run").size());
  // Native view first.
  const auto first = std::find_if(records.begin(), records.end(), [](const AutorunRecord& r) { return r.entryName == L"App"; });
  ASSERT_NE(records.end(), first);
  EXPECT_EQ(L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", first->location);
  EXPECT_EQ(2u, Run(0, false).size());
}

TEST_F(CatalogueTest, InvalidArgumentsAndCancellation) {
  CRecordingAnalyzer analyzer;
  EXPECT_EQ(E_INVALIDARG, analyzer.Init(L"", L"", Bindings()));
  ASSERT_EQ(S_OK, analyzer.Init(L"", kSid, Bindings()));
  EXPECT_EQ(E_INVALIDARG, analyzer.RunCategory(17));
  for (const wchar_t* name : {L"a", L"b", L"c"}) key.SetString(L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", name, L"x.exe");
  analyzer.cancelled = true;
  EXPECT_EQ(S_OK, analyzer.RunCategory(0));
  EXPECT_TRUE(analyzer.records.empty());
}

}  // namespace
}  // namespace kal
