// Sidebar gadgets from a real Settings.ini in the local application data folder.
#include "autoruns/sidebar.h"

#include <shlobj.h>

#include <fstream>

#include "analyzer_fixture.h"

namespace kal {
namespace {

class SidebarTest : public test::AnalyzerTest {
 protected:
  void SetUp() override {
    wchar_t base[MAX_PATH] = {};
    ASSERT_EQ(S_OK, ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base));
    folder = std::wstring(base) + L"\\Microsoft\\Windows Sidebar";
    ini = folder + L"\\Settings.ini";
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(ini.c_str())) << "a sidebar settings file already exists";
    ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  }
  void TearDown() override { ::DeleteFileW(ini.c_str()); }

  void WriteIni(const std::string& text) const {
    std::ofstream out(test::Narrow(ini).c_str(), std::ios::binary);  // the path is ASCII in a test prefix
    out << text;
  }

  // Percent-encodes what a URL would not carry as it is.
  static std::string Encode(const std::wstring& path) {
    std::string out;
    for (wchar_t c : path) {
      if (c == L'\\') out += "%5C";
      else if (c == L' ') out += "%20";
      else if (c == L':') out += "%3A";
      else out += static_cast<char>(c);
    }
    return out;
  }

  std::wstring folder, ini;
};

TEST_F(SidebarTest, RootSectionNamesTheGadgetSectionsAndTheirPathsAreDecoded) {
  const std::wstring gadget = File(L"My Gadgets\\clock.gadget");
  const std::wstring sideShow = File(L"sideshow.exe");
  key.SetString(L"Software\\Microsoft\\SideShow\\Gadgets\\Weather", L"StartCommand", sideShow);
  WriteIni("[Root]\r\nPrivateSetting_Version=1\r\nSection0=3\r\nSectionX=9\r\n"
           "[Section 3]\r\nPrivateSetting_GadgetName=" + Encode(gadget) + "\r\n"
           "[Section 9]\r\nPrivateSetting_Enabled=true\r\n");
  const auto all = Run(16);

  const auto gadgets = At(all, ini);
  ASSERT_EQ(1u, gadgets.size());  // Section 9 names no gadget
  EXPECT_EQ(16, gadgets[0].category);
  EXPECT_EQ(L"3", gadgets[0].entryName);
  EXPECT_EQ(L"Section0:" + gadget, gadgets[0].entryData);
  EXPECT_EQ(gadget, gadgets[0].itemKey);
  EXPECT_PATH_EQ(gadget, gadgets[0].filePath);

  const auto shown = At(all, L"HKLM\\Software\\Microsoft\\SideShow\\Gadgets");
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ(L"Weather", shown[0].entryName);
  EXPECT_EQ(L"HKLM\\Software\\Microsoft\\SideShow\\Gadgets\\Weather", shown[0].itemKey);
  EXPECT_PATH_EQ(sideShow, shown[0].filePath);
}

TEST_F(SidebarTest, WithoutSettingsNothingIsRead) {
  key.SetString(L"Software\\Microsoft\\SideShow\\Gadgets\\Weather", L"StartCommand", File(L"sideshow.exe"));
  key.SetString(L"User\\Software\\Microsoft\\SideShow\\Gadgets\\Mine", L"StartCommand", File(L"mine.exe"));
  EXPECT_TRUE(Run(16).empty());
  WriteIni("[Other]\r\nSection0=3\r\n");
  EXPECT_TRUE(Run(16).empty());
}

TEST_F(SidebarTest, UserGadgetsNameTheUser) {
  const std::wstring mine = File(L"mine.exe");
  key.SetString(L"User\\Software\\Microsoft\\SideShow\\Gadgets\\Mine", nullptr, L"no command");
  key.SetString(L"User\\Software\\Microsoft\\SideShow\\Gadgets\\Mine2", L"StartCommand", mine);
  WriteIni("[Root]\r\nSection0=1\r\n");
  const auto shown = At(Run(16), L"HKCU\\Software\\Microsoft\\SideShow\\Gadgets");
  ASSERT_EQ(2u, shown.size());
  EXPECT_EQ(L"", shown[0].filePath);  // no StartCommand: nothing to scan
  EXPECT_EQ(std::wstring(L"HKU\\") + test::kTestSid + L"\\Software\\Microsoft\\SideShow\\Gadgets\\Mine2", shown[1].itemKey);
  EXPECT_PATH_EQ(mine, shown[1].filePath);
}

}  // namespace
}  // namespace kal
