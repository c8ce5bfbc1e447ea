// Crash dumps: the name of the dump file and the one-dump-per-process rule, shown by a program
// that faults twice.
#include "support/crash_dump.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <vector>

#include "support/handles.h"
#include "test_support/temp_dir.h"

namespace kal {
namespace {

TEST(CrashDump, TimeStampFromFatTime) {
  struct Case {
    WORD hour, minute, second;
    const wchar_t* stamp;
  };
  const Case cases[] = {
      {14, 5, 6, L"20261204_140506"},
      {14, 5, 7, L"20261204_140506"},  // seconds rounded down to even
      {0, 0, 59, L"20261204_000058"},
      {23, 59, 0, L"20261204_235900"},
  };
  const WORD date = static_cast<WORD>(((2026 - 1980) << 9) | (12 << 5) | 4);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.hour << ":" << c.minute << ":" << c.second);
    const WORD time = static_cast<WORD>((c.hour << 11) | (c.minute << 5) | (c.second / 2));
    EXPECT_EQ(c.stamp, FormatDumpTimeStamp(date, time));
  }
}

TEST(CrashDump, FileName) {
  EXPECT_EQ(L"C:\\ProgramData\\Tessel\\KalDumps\\\\scanner.exe_1.2.3.4_20261204_140506.dmp",
            FormatDumpFileName(L"C:\\ProgramData\\Tessel\\KalDumps\\", L"scanner.exe", L"1.2.3.4",
                               L"20261204_140506"));
}

std::wstring DumpFolder() {
  wchar_t base[MAX_PATH];
  ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, base);
  return std::wstring(base) + L"\\Tessel\\KalDumps";
}

std::vector<std::wstring> DumpsOf(const std::wstring& folder, const std::wstring& program) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  CFindHandle find(::FindFirstFileW((folder + L"\\" + program + L"_*.dmp").c_str(), &data));
  if (!find) return names;
  do names.push_back(data.cFileName);
  while (::FindNextFileW(find.Get(), &data));
  return names;
}

TEST(CrashDump, OneDumpForTwoFaults) {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring helper(self);
  helper = helper.substr(0, helper.find_last_of(L'\\') + 1) + L"crash_twice_helper.exe";

  const std::wstring folder = DumpFolder();
  for (const std::wstring& old : DumpsOf(folder, L"crash_twice_helper.exe"))
    ::DeleteFileW((folder + L"\\" + old).c_str());

  test::CTempDir dir;
  const std::wstring out = dir.Path() + L"\\out.txt";
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  CFileHandle stdoutFile(::CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr));
  STARTUPINFOW si = {sizeof(si)};
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = stdoutFile.Get();
  si.hStdError = stdoutFile.Get();
  PROCESS_INFORMATION pi = {};
  std::wstring commandLine = L"\"" + helper + L"\"";
  ASSERT_TRUE(::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
  CKernelHandle process(pi.hProcess);
  CThreadHandle thread(pi.hThread);
  // A full dump of a 64-bit process under Wine runs to some 200 MB and takes a minute on a busy
  // machine.
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.Get(), 240000));
  DWORD code = 0;
  ::GetExitCodeProcess(process.Get(), &code);
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), code);
  stdoutFile.Reset();

  // The single step continues without a dump (-1); the first real fault writes it (0).
  std::string printed(4096, '\0');
  CFileHandle in(::CreateFileW(out.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  DWORD read = 0;
  ::ReadFile(in.Get(), &printed[0], static_cast<DWORD>(printed.size()), &read, nullptr);
  printed.resize(read);
  EXPECT_NE(std::string::npos, printed.find("verdict 0x80000004 -1")) << printed;
  EXPECT_NE(std::string::npos, printed.find("verdict 0xE0000001 0")) << printed;

  const std::vector<std::wstring> dumps = DumpsOf(folder, L"crash_twice_helper.exe");
  ASSERT_EQ(1u, dumps.size());
  // "<program>_<version>_<yyyymmdd>_<hhmmss>.dmp" with an even second.
  const std::wstring& name = dumps[0];
  const std::wstring prefix = std::wstring(L"crash_twice_helper.exe_") + VANTORAG_VERSION_TEXT + L"_";
  ASSERT_EQ(prefix, name.substr(0, prefix.size()));
  const std::wstring stamp = name.substr(prefix.size());
  ASSERT_EQ(19u, stamp.size()) << stamp;  // yyyymmdd_hhmmss.dmp
  EXPECT_EQ(0, (stamp[14] - L'0') % 2) << stamp;
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(::GetFileAttributesExW((folder + L"\\" + name).c_str(), GetFileExInfoStandard, &data));
  EXPECT_GT(data.nFileSizeLow, 4096u);  // a full-memory dump, not an empty file
  ::DeleteFileW((folder + L"\\" + name).c_str());
}

}  // namespace
}  // namespace kal
