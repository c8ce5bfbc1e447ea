// Access paths: the Sysnative form of system32 paths and when a 32-bit scanner uses it.
#include "collect/file_access_path.h"

#include <gtest/gtest.h>

#include "support/win.h"

namespace kal {
namespace {

TEST(SysnativePath, Table) {
  struct Case {
    const wchar_t* path;
    const wchar_t* native;
  };
  const Case cases[] = {
      {L"C:\\Windows\\system32\\drivers\\x.sys", L"C:\\Windows\\Sysnative\\drivers\\x.sys"},
      {L"c:\\WINDOWS\\SYSTEM32\\ntoskrnl.exe", L"C:\\Windows\\Sysnative\\ntoskrnl.exe"},
      {L"C:\\Windows\\System32", L"C:\\Windows\\Sysnative"},
      {L"C:\\Windows\\system32x\\a.dll", L""},
      {L"C:\\Windows\\SysWOW64\\a.dll", L""},
      {L"D:\\Windows\\system32\\a.dll", L""},
      {L"C:\\Windows", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "path '" << c.path << "'");
    EXPECT_EQ(c.native, SysnativePath(c.path, L"C:\\Windows"));
    EXPECT_EQ(c.native, SysnativePath(c.path, L"C:\\Windows\\"));
  }
}

std::wstring WindowsFolder() {
  wchar_t windows[MAX_PATH];
  ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  return windows;
}

#ifndef _WIN64
TEST(FileAccessPath, NativeFolderOnlyForFilesTheRedirectedViewLacks) {
  BOOL wow64 = FALSE;
  ::IsWow64Process(::GetCurrentProcess(), &wow64);
  const std::wstring folder = WindowsFolder();

  // Wine's 32-bit view has no drivers folder; the native one has mountmgr.sys.
  const std::wstring driver = folder + L"\\system32\\drivers\\mountmgr.sys";
  const std::wstring both = folder + L"\\system32\\kernel32.dll";  // in both views
  if (!wow64) GTEST_SKIP() << "a 32-bit system has no redirection";
  ASSERT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(driver.c_str()));
  EXPECT_EQ(folder + L"\\Sysnative\\drivers\\mountmgr.sys", FileAccessPath(driver));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(FileAccessPath(driver).c_str()));
  EXPECT_EQ(both, FileAccessPath(both));
  EXPECT_EQ(folder + L"\\system32\\missing.sys", FileAccessPath(folder + L"\\system32\\missing.sys"));
  EXPECT_EQ(L"Z:\\tmp\\a.exe", FileAccessPath(L"Z:\\tmp\\a.exe"));
}
#else
// The x64 build sees the native system folder itself: no path is turned to "Sysnative".
TEST(FileAccessPath, X64BuildOpensSystemFilesWhereTheyAre) {
  const std::wstring folder = WindowsFolder();
  const std::wstring driver = folder + L"\\system32\\drivers\\mountmgr.sys";
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(driver.c_str()));
  EXPECT_EQ(driver, FileAccessPath(driver));
  EXPECT_EQ(folder + L"\\system32\\missing.sys", FileAccessPath(folder + L"\\system32\\missing.sys"));
  EXPECT_EQ(L"Z:\\tmp\\a.exe", FileAccessPath(L"Z:\\tmp\\a.exe"));
}
#endif

}  // namespace
}  // namespace kal
