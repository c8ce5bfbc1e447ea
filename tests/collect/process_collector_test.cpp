// The process collector: the command-line reader against hand-built memory, CPU time, module
// registration order and zeros, and the whole phase under Wine against a helper process started
// with a known command line.
#include "collect/process_collector.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>

#include "collect/module_path.h"
#include "report/computer_description.h"
#include "support/handles.h"
#include "support/sized_query.h"
#include "test_support/run_fixture.h"

namespace kal {
namespace {

// The run and its tables, with the file filters a test chooses.
using test::RunFixture;

// ---------------------------------------------------------------------------------------------
// The command line read from another process's memory

// Memory of a target process as a few mapped regions; reads that leave a region fail.
class CFakeMemory : public IProcessMemory {
 public:
  void Map(uint64_t address, const void* bytes, size_t size) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    regions_[address] = std::vector<uint8_t>(p, p + size);
  }

  bool Read(uint64_t address, void* buffer, uint32_t size) const override {
    largestRead_ = std::max(largestRead_, size);
    for (const auto& region : regions_) {
      const uint64_t start = region.first, end = start + region.second.size();
      if (address >= start && address <= end && size <= end - address) {
        std::memcpy(buffer, region.second.data() + (address - start), size);
        return true;
      }
    }
    return false;
  }
  uint32_t LargestRead() const { return largestRead_; }

 private:
  std::map<uint64_t, std::vector<uint8_t>> regions_;
  mutable uint32_t largestRead_ = 0;
};

struct CommandLineCase {
  const char* name;
  uint64_t peb;
  uint64_t parameters;  // stored at peb + parametersOffset (wrapping, so a missed overflow check shows)
  uint16_t length;      // the counted string header at parameters + commandLineOffset
  uint64_t buffer;
  std::wstring text;    // mapped at buffer
  std::wstring expected;
};

// Maps one case into memory in the target layout: pointers of the layout's width, the counted
// string header as the target holds it (length, maximum length, padding, buffer).
void MapCase(CFakeMemory* memory, const CommandLineCase& c, const EnvironmentBlockLayout& layout) {
  const uint64_t mask = layout.pointerSize == 8 ? UINT64_MAX : UINT32_MAX;
  memory->Map((c.peb + layout.parametersOffset) & mask, &c.parameters, layout.pointerSize);
  uint8_t header[16] = {};
  std::memcpy(header, &c.length, 2);
  std::memcpy(header + 2, &c.length, 2);
  std::memcpy(header + layout.pointerSize, &c.buffer, layout.pointerSize);
  memory->Map((c.parameters + layout.commandLineOffset) & mask, header, layout.pointerSize * 2);
  if (!c.text.empty()) memory->Map(c.buffer, c.text.data(), c.text.size() * sizeof(wchar_t));
}

TEST(ReadCommandLine, TableInBothLayouts) {
  const std::wstring nul(1, L'\0');
  const struct {
    const char* name;
    const EnvironmentBlockLayout& layout;
    uint64_t top;   // the last address of the target's address space
    uint64_t high;  // a valid address that only the layout's width can hold
  } layouts[] = {{"32-bit target", kEnvironmentBlock32, UINT32_MAX, 0x7FFE0000},
                 {"64-bit target", kEnvironmentBlock64, UINT64_MAX, 0x7FF712340000ull}};
  for (const auto& l : layouts) {
    SCOPED_TRACE(l.name);
    const uint64_t top = l.top, high = l.high;
    const CommandLineCase cases[] = {
        // Normal
        {"plain", 0x1000, 0x2000, 24, 0x3000, L"prog.exe a b", L"prog.exe a b"},
        {"blocks at high addresses", high, high + 0x2000, 6, high + 0x4000, L"abc", L"abc"},
        {"NUL inside becomes a space", 0x1000, 0x2000, 14, 0x3000, L"a.exe" + nul + L"b", L"a.exe b"},
        {"NULs at the end", 0x1000, 0x2000, 8, 0x3000, L"x" + nul + nul + nul, L"x   "},
        {"length shorter than the text", 0x1000, 0x2000, 4, 0x3000, L"abcdef", L"ab"},
        // Empty
        {"length 0", 0x1000, 0x2000, 0, 0x3000, L"abc", L""},
        {"no environment block", 0, 0x2000, 6, 0x3000, L"abc", L""},
        {"no parameters block", 0x1000, 0, 6, 0x3000, L"abc", L""},
        {"no buffer", 0x1000, 0x2000, 6, 0, L"abc", L""},
        // Malformed: values a hostile or damaged target may hold
        {"odd length drops the half character", 0x1000, 0x2000, 7, 0x3000, L"abcd", L"abc"},
        {"length past the mapped text", 0x1000, 0x2000, 0xFFFF, 0x3000, L"abc", L""},
        {"buffer unmapped", 0x1000, 0x2000, 6, 0x7000, L"", L""},
        {"environment block at the top of memory", top - 7, 0x2000, 6, 0x3000, L"abc", L""},
        {"parameters at the top of memory", 0x1000, top - 15, 6, 0x3000, L"abc", L""},
        {"text running past the top of memory", 0x1000, 0x2000, 6, top - 1, L"", L""},
    };
    for (const CommandLineCase& c : cases) {
      SCOPED_TRACE(c.name);
      CFakeMemory memory;
      MapCase(&memory, c, l.layout);
      EXPECT_EQ(c.expected, ReadCommandLine(memory, c.peb, l.layout));
      EXPECT_LE(memory.LargestRead(), 0xFFFEu);  // never more than the 16-bit length allows
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Processor time

FILETIME Ticks(uint64_t ticks) { return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}; }

TEST(CpuTimeSeconds, Table) {
  const uint64_t second = 10000000;
  const struct {
    const char* name;
    uint64_t kernel, user;
    int64_t expected;
  } cases[] = {
      {"none", 0, 0, 0},
      {"just under a second", second - 1, 0, 0},
      {"40 days and 5 seconds", (40ull * 86400 + 5) * second, 0, 3456005},
      {"kernel and user added before rounding", second * 6 / 10, second * 6 / 10, 1},
      {"split over both", 3 * second, 4 * second + 5, 7},
      {"past the low 32 bits", 0x100000000ull, 0, 429},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, CpuTimeSeconds(Ticks(c.kernel), Ticks(c.user)));
  }
}

// ---------------------------------------------------------------------------------------------
// Module registration of one process

uint32_t IdOf(const CScanItems& items, const std::wstring& path) {
  const auto found = items.Modules().find(ModuleKey(path));
  return found == items.Modules().end() ? 0 : found->second.Id;
}

TEST(RecordProcessModules, MainImageOutsideTheMasksLeavesAZeroAtTheHead) {
  RunFixture fixture({L"*.dll"}, false);
  ProcessItem process;
  ASSERT_EQ(S_OK, RecordProcessModules(fixture.items,
                                       {L"C:\\App\\Main.exe", L"C:\\Windows\\System32\\NTDLL.DLL", L"",
                                        L"\\??\\C:\\Windows\\System32\\kernel32.dll",
                                        L"c:\\windows\\system32\\ntdll.dll"},
                                       &process));
  const uint32_t ntdll = IdOf(fixture.items, L"c:\\windows\\system32\\ntdll.dll");
  const uint32_t kernel32 = IdOf(fixture.items, L"c:\\windows\\system32\\kernel32.dll");
  ASSERT_NE(0u, ntdll);
  ASSERT_NE(0u, kernel32);
  EXPECT_EQ(0u, process.ModuleRefId);
  // The unreadable name leaves no entry; the duplicate stays.
  EXPECT_EQ((std::vector<uint32_t>{0, ntdll, kernel32, ntdll}), process.Modules);
  // Registered under the normalised (lower-cased, prefix-free) path.
  EXPECT_EQ(L"c:\\windows\\system32\\kernel32.dll", fixture.items.Modules().at(ModuleKey(L"c:\\windows\\system32\\kernel32.dll")).Path);
  EXPECT_EQ(2u, fixture.items.Modules().size());
}

TEST(RecordProcessModules, MainImageAndSharedDlls) {
  RunFixture fixture({L"*.exe", L"*.dll"}, false);
  ProcessItem first, second, unreadableMain;
  ASSERT_EQ(S_OK, RecordProcessModules(fixture.items, {L"C:\\A\\one.exe", L"C:\\W\\shared.dll"}, &first));
  ASSERT_EQ(S_OK, RecordProcessModules(fixture.items, {L"C:\\A\\two.exe", L"C:\\W\\SHARED.DLL"}, &second));
  ASSERT_EQ(S_OK, RecordProcessModules(fixture.items, {L"", L"C:\\W\\shared.dll"}, &unreadableMain));

  const uint32_t shared = IdOf(fixture.items, L"c:\\w\\shared.dll");
  EXPECT_EQ(IdOf(fixture.items, L"c:\\a\\one.exe"), first.ModuleRefId);
  EXPECT_EQ((std::vector<uint32_t>{first.ModuleRefId, shared}), first.Modules);
  EXPECT_EQ((std::vector<uint32_t>{second.ModuleRefId, shared}), second.Modules);
  // Only the first handle of the list is the main image; a later module never takes its place.
  EXPECT_EQ(0u, unreadableMain.ModuleRefId);
  EXPECT_EQ((std::vector<uint32_t>{shared}), unreadableMain.Modules);
}

// ---------------------------------------------------------------------------------------------
// The whole phase under Wine

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring ModuleFileName(HMODULE module) {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
  return std::wstring(path, length);
}

// The helper process, asked to quit and waited for when the test ends.
class CHelperProcess {
 public:
  bool Start(const wchar_t* program = L"process_collector_helper.exe") {
    const std::wstring suffix = std::to_wstring(::GetCurrentProcessId());
    const std::wstring readyName = L"vantorag_proc_test_ready_" + suffix;
    const std::wstring quitName = L"vantorag_proc_test_quit_" + suffix;
    ready_.Reset(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    quit_.Reset(::CreateEventW(nullptr, TRUE, FALSE, quitName.c_str()));
    path_ = OwnFolder() + program;
    // The helper turns the '|' into a NUL in its own copy of the line.
    commandLine_ = L"\"" + path_ + L"\" " + readyName + L" " + quitName + L" \"two  words\" a.exe|b";
    std::wstring writable = commandLine_;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(path_.c_str(), &writable[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info))
      return false;
    process_.Reset(info.hProcess);
    CThreadHandle thread(info.hThread);
    pid_ = info.dwProcessId;
    const HANDLE waits[] = {ready_.Get(), process_.Get()};
    return ::WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
  }
  ~CHelperProcess() {
    if (!process_) return;
    ::SetEvent(quit_.Get());
    if (::WaitForSingleObject(process_.Get(), 10000) != WAIT_OBJECT_0) ::TerminateProcess(process_.Get(), 1);
  }
  DWORD Pid() const { return pid_; }
  const std::wstring& Path() const { return path_; }
  const std::wstring& CommandLine() const { return commandLine_; }

 private:
  CEvent ready_, quit_;
  CKernelHandle process_;
  DWORD pid_ = 0;
  std::wstring path_, commandLine_;
};

std::wstring ExpectedUser() {
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1], user[256];
  DWORD computerLength = MAX_COMPUTERNAME_LENGTH + 1, userLength = 256;
  if (!::GetComputerNameW(computer, &computerLength) || !::GetUserNameW(user, &userLength)) return L"?";
  return std::wstring(computer) + L"\\" + user;
}

bool OwnTokenElevated() {
  CToken token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put())) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD returned = 0;
  return ::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof(elevation), &returned) &&
         elevation.TokenIsElevated != 0;
}

const ProcessItem* FindProcess(const CScanItems& items, DWORD pid) {
  const auto found = items.Processes().find(pid);
  return found == items.Processes().end() ? nullptr : &found->second;
}

TEST(CollectProcesses, HelperProcessWithItsFactsAndModules) {
  const int64_t before = ::_time64(nullptr);
  CHelperProcess helper;
  ASSERT_TRUE(helper.Start());
  const int64_t after = ::_time64(nullptr);

  RunFixture fixture({L"*.exe", L"*.dll"});
  ASSERT_EQ(S_OK, CollectProcesses(fixture.run, fixture.items));
  EXPECT_EQ(kPhaseProcesses, fixture.state.Phase);

  const ProcessItem* record = FindProcess(fixture.items, helper.Pid());
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(helper.Pid(), record->Pid);
  EXPECT_EQ(::GetCurrentProcessId(), record->ParentPid);
  EXPECT_EQ(ExpectedUser(), record->User);
  std::wstring expectedCmd = helper.CommandLine();
  std::replace(expectedCmd.begin(), expectedCmd.end(), L'|', L' ');
  EXPECT_EQ(expectedCmd, record->Cmd);
  EXPECT_GE(record->Created, before - 2);
  EXPECT_LE(record->Created, after + 2);
  EXPECT_GE(record->CpuTime, 0);
  EXPECT_LE(record->CpuTime, 60);
  EXPECT_EQ(GetOsRecord().Family >= 4 && OwnTokenElevated(), record->Elevated);
  EXPECT_FALSE(record->UacVirtualization);

  // The main image heads the list; the system DLLs it shares with this process are one item each.
  const uint32_t image = IdOf(fixture.items, helper.Path());
  ASSERT_NE(0u, image);
  EXPECT_EQ(image, record->ModuleRefId);
  ASSERT_FALSE(record->Modules.empty());
  EXPECT_EQ(image, record->Modules[0]);
  const uint32_t ntdll = IdOf(fixture.items, ModuleFileName(::GetModuleHandleW(L"ntdll.dll")));
  ASSERT_NE(0u, ntdll);
  EXPECT_NE(record->Modules.end(), std::find(record->Modules.begin(), record->Modules.end(), ntdll));
  const ProcessItem* self = FindProcess(fixture.items, ::GetCurrentProcessId());
  ASSERT_NE(nullptr, self);
  EXPECT_EQ(IdOf(fixture.items, ModuleFileName(nullptr)), self->ModuleRefId);
  EXPECT_NE(self->Modules.end(), std::find(self->Modules.begin(), self->Modules.end(), ntdll));

  // The idle process can't be opened and is not listed.
  EXPECT_EQ(nullptr, FindProcess(fixture.items, 0));
}

TEST(CollectProcesses, MainImageOutsideTheMasksIsAZeroAtTheHead) {
  CHelperProcess helper;
  ASSERT_TRUE(helper.Start());
  RunFixture fixture({L"*.dll"});
  ASSERT_EQ(S_OK, CollectProcesses(fixture.run, fixture.items));

  const ProcessItem* record = FindProcess(fixture.items, helper.Pid());
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(0u, record->ModuleRefId);
  ASSERT_GE(record->Modules.size(), 2u);
  EXPECT_EQ(0u, record->Modules[0]);
  EXPECT_EQ(record->Modules.end(), std::find(record->Modules.begin() + 1, record->Modules.end(), 0u));
  EXPECT_EQ(0u, IdOf(fixture.items, helper.Path()));
}

bool IsWow64(HANDLE process) {
  BOOL wow64 = FALSE;
  return ::IsWow64Process(process, &wow64) && wow64;
}

#ifndef _WIN64
DWORD FindProcessByName(const wchar_t* name) {
  CFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry))
    if (::_wcsicmp(entry.szExeFile, name) == 0) return entry.th32ProcessID;
  return 0;
}

// The 32-bit build can't address a 64-bit process: it is listed with its user, but without
// modules or command line.
TEST(CollectProcesses, ProcessOfTheOtherBitness32BitBuildListsWithoutModules) {
  // Wine's services run 64-bit in a 64-bit prefix, where this program runs under WOW64.
  const DWORD pid = FindProcessByName(L"services.exe");
  CKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
  if (!IsWow64(::GetCurrentProcess()) || !process || IsWow64(process.Get()))
    GTEST_SKIP() << "needs a 64-bit system: a 32-bit one has no process of the other bitness";

  RunFixture fixture({L"*.exe", L"*.dll"});
  ASSERT_EQ(S_OK, CollectProcesses(fixture.run, fixture.items));
  const ProcessItem* record = FindProcess(fixture.items, pid);
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(0u, record->ModuleRefId);
  EXPECT_TRUE(record->Modules.empty());
  EXPECT_EQ(L"", record->Cmd);
  EXPECT_EQ(ExpectedUser(), record->User);
}

#else
// The x64 build reads a WOW64 process whole: its 32-bit command line and its modules, the main
// image first.
TEST(CollectProcesses, ProcessOfTheOtherBitnessX64BuildReadsWow64ProcessWhole) {
  CHelperProcess helper;
  if (!helper.Start(L"process_collector_helper32.exe")) {
    // The test command says whether this machine runs 32-bit programs; only then must it start.
    wchar_t runs32[8] = {};
    ::GetEnvironmentVariableW(L"VANTORAG_MACHINE_RUNS_32BIT", runs32, 8);
    ASSERT_NE(std::wstring(L"1"), runs32) << "the 32-bit helper did not start";
    GTEST_SKIP() << "this machine runs no 32-bit programs, so no WOW64 process can start";
  }
  CKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, helper.Pid()));
  ASSERT_TRUE(process);
  ASSERT_TRUE(IsWow64(process.Get()));

  RunFixture fixture({L"*.exe", L"*.dll"});
  ASSERT_EQ(S_OK, CollectProcesses(fixture.run, fixture.items));
  const ProcessItem* record = FindProcess(fixture.items, helper.Pid());
  ASSERT_NE(nullptr, record);
  std::wstring expectedCmd = helper.CommandLine();
  std::replace(expectedCmd.begin(), expectedCmd.end(), L'|', L' ');
  EXPECT_EQ(expectedCmd, record->Cmd);
  const uint32_t image = IdOf(fixture.items, helper.Path());
  ASSERT_NE(0u, image);
  EXPECT_EQ(image, record->ModuleRefId);
  ASSERT_FALSE(record->Modules.empty());
  EXPECT_EQ(image, record->Modules[0]);
  EXPECT_EQ(ExpectedUser(), record->User);
}
#endif

TEST(CollectProcesses, StopEndsThePhaseBeforeAnyProcess) {
  RunFixture fixture({L"*.exe", L"*.dll"});
  fixture.config.StopRequested = 1;
  EXPECT_EQ(E_ABORT, CollectProcesses(fixture.run, fixture.items));
  EXPECT_TRUE(fixture.items.Processes().empty());
  EXPECT_TRUE(fixture.items.Modules().empty());
}

}  // namespace
}  // namespace kal
