// The packaged-application catalog path rule.
#include "analysis/packaged_app_catalog.h"

#include <gtest/gtest.h>

namespace kal {
namespace {

TEST(PackagedAppCatalog, PathRule) {
  struct Case {
    const wchar_t* path;
    const wchar_t* catalog;
  };
  const Case cases[] = {
      // Inside a package folder, at any depth.
      {L"C:\\Program Files\\WindowsApps\\Pkg_1.0_x64__abc\\app.exe",
       L"C:\\Program Files\\WindowsApps\\Pkg_1.0_x64__abc\\AppxMetadata\\CodeIntegrity.cat"},
      {L"D:\\Program Files\\WindowsApps\\Pkg\\bin\\x\\lib.dll",
       L"D:\\Program Files\\WindowsApps\\Pkg\\AppxMetadata\\CodeIntegrity.cat"},
      {L"\\\\?\\C:\\Program Files\\WindowsApps\\Pkg\\a.exe",
       L"\\\\?\\C:\\Program Files\\WindowsApps\\Pkg\\AppxMetadata\\CodeIntegrity.cat"},
      // Not a packaged application.
      {L"C:\\Program Files\\WindowsApps\\Pkg", L""},            // the package folder itself
      {L"C:\\Program Files\\WindowsApps\\", L""},
      {L"C:\\program files\\windowsapps\\Pkg\\a.exe", L""},    // exact case only
      {L"C:\\Program Files (x86)\\WindowsApps\\Pkg\\a.exe", L""},
      {L"C:\\Program Files\\App\\a.exe", L""},
      {L"", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(std::wstring(c.catalog), PackagedAppCatalogPath(c.path)) << c.path;
}

}  // namespace
}  // namespace kal
