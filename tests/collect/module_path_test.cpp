// Kernel-style module paths turned into the Win32 form that files are registered under.
#include "collect/module_path.h"

#include <gtest/gtest.h>

#include "support/win.h"

namespace kal {
namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

TEST(NormalizeModulePath, Table) {
  const std::wstring systemRoot = Environment(L"SystemRoot");
  ASSERT_FALSE(systemRoot.empty());
  ::SetEnvironmentVariableW(L"VANTORAG_TEST_DIR", L"D:\\Data");
  const std::wstring longValue = L"D:\\" + std::wstring(300, L'x');
  ::SetEnvironmentVariableW(L"VANTORAG_TEST_LONG", longValue.c_str());

  const struct {
    std::wstring path;
    std::wstring expected;
  } cases[] = {
      // The system root prefix becomes the Windows folder as the environment names it
      {L"\\SystemRoot\\System32\\smss.exe", systemRoot + L"\\system32\\smss.exe"},
      {L"\\SYSTEMROOT\\system32\\drivers\\x.sys", systemRoot + L"\\system32\\drivers\\x.sys"},
      {L"\\??\\\\SystemRoot\\a.sys", systemRoot + L"\\a.sys"},
      {L"\\??\\C:\\Windows\\x.exe", L"c:\\windows\\x.exe"},
      {L"\\??\\c:\\a.dll", L"c:\\a.dll"},
      // Win32 paths are only lower-cased (A-Z alone)
      {L"C:\\Windows\\System32\\NTDLL.DLL", L"c:\\windows\\system32\\ntdll.dll"},
      {L"C:\\\u00c4RGER\\X.DLL", L"c:\\\u00c4rger\\x.dll"},
      {L"Z:\\tmp\\a b\\Prog.EXE", L"z:\\tmp\\a b\\prog.exe"},
      {L"", L""},
      // Prefixes are removed once and only where they stand whole
      {L"\\??\\\\??\\C:\\x.exe", L"\\??\\c:\\x.exe"},
      {L"\\SystemRootX\\a.sys", L"\\systemrootx\\a.sys"},
      {L"\\SystemRoot", L"\\systemroot"},
      {L"system32\\drivers\\rel.sys", L"system32\\drivers\\rel.sys"},
      {L"C:\\??\\x.exe", L"c:\\??\\x.exe"},
      // Environment variables expand, whatever their case; unknown ones stay
      {L"%VANTORAG_TEST_DIR%\\X.DLL", L"D:\\Data\\x.dll"},
      {L"%NoSuchVariableHere%\\a.dll", L"%nosuchvariablehere%\\a.dll"},
      // An expansion past MAX_PATH is kept whole
      {L"%VANTORAG_TEST_LONG%\\y.dll", longValue + L"\\y.dll"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "path '" << c.path << "'");
    EXPECT_EQ(c.expected, NormalizeModulePath(c.path));
  }
}

}  // namespace
}  // namespace kal
