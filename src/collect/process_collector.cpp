// The processes phase: list, open, read each process's facts and register its modules.
#include "collect/process_collector.h"

#include <algorithm>

#include "support/win.h"

// The psapi.dll entry points exist on every supported system; the K32 forms only from 6.1.
#define PSAPI_VERSION 1
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include "collect/module_path.h"
#include "collect/privilege.h"
#include "report/computer_description.h"
#include "support/bitness.h"
#include "support/handles.h"
#include "support/hresult.h"
#include "support/sized_query.h"

namespace kal {
namespace {

constexpr DWORD kMaxProcesses = 1024;
constexpr DWORD kMaxModules = 1024;
constexpr DWORD kProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x0410
constexpr ULONG kTokenElevationClass = 20;
constexpr ULONG kProcessBasicInformation = 0;
constexpr ULONG kProcessWow64Information = 26;

using NtQueryInformationProcessFn = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
using NtReadVirtualMemoryFn = LONG(WINAPI*)(HANDLE, const void*, void*, SIZE_T, SIZE_T*);
using NtOpenProcessTokenFn = LONG(WINAPI*)(HANDLE, ACCESS_MASK, HANDLE*);
using NtQueryInformationTokenFn = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, BOOL*);
using EnumProcessModulesExFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*, DWORD);

// The run-time looked-up system functions; any of them may be missing on an old system.
struct SystemFunctions {
  NtQueryInformationProcessFn queryProcess = nullptr;
  NtReadVirtualMemoryFn readMemory = nullptr;
  NtOpenProcessTokenFn openToken = nullptr;
  NtQueryInformationTokenFn queryToken = nullptr;
  IsWow64ProcessFn isWow64 = nullptr;
  EnumProcessModulesExFn enumModulesEx = nullptr;  // looked up by the x64 build only
};

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

SystemFunctions LookupSystemFunctions() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  SystemFunctions fns;
  fns.queryProcess = Lookup<NtQueryInformationProcessFn>(ntdll, "NtQueryInformationProcess");
  fns.readMemory = Lookup<NtReadVirtualMemoryFn>(ntdll, "NtReadVirtualMemory");
  fns.openToken = Lookup<NtOpenProcessTokenFn>(ntdll, "NtOpenProcessToken");
  fns.queryToken = Lookup<NtQueryInformationTokenFn>(ntdll, "NtQueryInformationToken");
  fns.isWow64 = Lookup<IsWow64ProcessFn>(kernel32, "IsWow64Process");
  if (kIs64BitBuild) {
    fns.enumModulesEx = Lookup<EnumProcessModulesExFn>(kernel32, "K32EnumProcessModulesEx");
    if (!fns.enumModulesEx)
      fns.enumModulesEx = Lookup<EnumProcessModulesExFn>(::GetModuleHandleW(L"psapi.dll"), "EnumProcessModulesEx");
  }
  return fns;
}

class CProcessMemory : public IProcessMemory {
 public:
  CProcessMemory(HANDLE process, NtReadVirtualMemoryFn read) : process_(process), read_(read) {}

  bool Read(uint64_t address, void* buffer, uint32_t size) const override {
    // This process can name only addresses of its own width.
    if (size == 0 || address > UINTPTR_MAX || UINTPTR_MAX - address < size - 1) return false;
    SIZE_T done = 0;
    const LONG status = read_(process_, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), buffer,
                              size, &done);
    return status >= 0 && done == size;
  }

 private:
  HANDLE process_;
  NtReadVirtualMemoryFn read_;
};

uint32_t ParentPidOf(DWORD pid) {
  CFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry))
    if (entry.th32ProcessID == pid) return entry.th32ParentProcessID;
  return 0;
}

// "domain\account"; a SID that maps to no account gives empty names, so a lone backslash.
std::wstring TokenUserOf(HANDLE process) {
  CToken token;
  if (!::OpenProcessToken(process, TOKEN_QUERY, token.Put())) return std::wstring();
  std::vector<uint8_t> data;
  if (FAILED(QueryTokenInformation(token.Get(), TokenUser, &data)) || data.size() < sizeof(TOKEN_USER))
    return std::wstring();
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(data.data())->User.Sid;

  std::vector<wchar_t> name(256), domain(256);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD domainLength = static_cast<DWORD>(domain.size());
    SID_NAME_USE use;
    if (::LookupAccountSidW(nullptr, sid, name.data(), &nameLength, domain.data(), &domainLength, &use))
      return std::wstring(domain.data()) + L"\\" + name.data();
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    name.resize(std::max<size_t>(nameLength, name.size()) + 1);
    domain.resize(std::max<size_t>(domainLength, domain.size()) + 1);
  }
  return L"\\";
}

// The command line read in the target's own layout. A 64-bit process reads a 64-bit target's
// environment block at the address the basic query gives, and a WOW64 target's 32-bit block at
// the address the WOW64 query gives. A 32-bit process reads targets of its own kind only: a
// 64-bit target has no block it could address, so it keeps an empty command line.
std::wstring CommandLineOf(HANDLE process, const SystemFunctions& fns, bool targetWow64) {
  if (!fns.queryProcess || !fns.readMemory) return std::wstring();
  const CProcessMemory memory(process, fns.readMemory);
  ULONG returned = 0;
  if (kIs64BitBuild && targetWow64) {
    ULONG_PTR peb32 = 0;
    if (fns.queryProcess(process, kProcessWow64Information, &peb32, sizeof(peb32), &returned) < 0) return std::wstring();
    return ReadCommandLine(memory, peb32, kEnvironmentBlock32);
  }
  if (targetWow64 != RunsUnderWow64()) return std::wstring();
  PROCESS_BASIC_INFORMATION basic = {};
  if (fns.queryProcess(process, kProcessBasicInformation, &basic, sizeof(basic), &returned) < 0) return std::wstring();
  return ReadCommandLine(memory, reinterpret_cast<uintptr_t>(basic.PebBaseAddress),
                         kIs64BitBuild ? kEnvironmentBlock64 : kEnvironmentBlock32);
}

bool ElevationOf(HANDLE process, const SystemFunctions& fns) {
  if (!fns.openToken || !fns.queryToken) return false;
  CToken token;
  if (fns.openToken(process, TOKEN_QUERY, token.Put()) < 0) return false;
  DWORD elevated = 0;
  ULONG returned = 0;
  return fns.queryToken(token.Get(), kTokenElevationClass, &elevated, sizeof(elevated), &returned) >= 0 &&
         elevated != 0;
}

bool IsWow64(HANDLE process, const SystemFunctions& fns) {
  BOOL wow64 = FALSE;
  return fns.isWow64 && fns.isWow64(process, &wow64) && wow64;
}

// The module file name; a name that fills the buffer may be cut short, so it is read again with
// more room rather than registered truncated.
std::wstring ModuleFileNameOf(HANDLE process, HMODULE module) {
  std::vector<wchar_t> name(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameExW(process, module, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return std::wstring();
    if (length < name.size() - 1 || name.size() >= 32768) return std::wstring(name.data(), length);
    name.resize(name.size() * 4);
  }
}

// Empty entries stand for modules whose names could not be read. The x64 build asks for the list
// that holds a WOW64 process's 32-bit modules too; the 32-bit build can list only processes of
// its own kind.
bool ModuleNamesOf(HANDLE process, const SystemFunctions& fns, std::vector<std::wstring>* names) {
  HMODULE modules[kMaxModules];
  DWORD bytes = 0;
  const BOOL listed = fns.enumModulesEx ? fns.enumModulesEx(process, modules, sizeof(modules), &bytes, LIST_MODULES_ALL)
                                        : ::EnumProcessModules(process, modules, sizeof(modules), &bytes);
  if (!listed) return false;
  const DWORD count = std::min<DWORD>(bytes, sizeof(modules)) / sizeof(HMODULE);
  for (DWORD i = 0; i < count; ++i) names->push_back(ModuleFileNameOf(process, modules[i]));
  return true;
}

}  // namespace

std::wstring ReadCommandLine(const IProcessMemory& memory, uint64_t peb, const EnvironmentBlockLayout& layout) {
  const uint64_t top = layout.pointerSize == 8 ? UINT64_MAX : UINT32_MAX;
  const auto readPointer = [&](uint64_t address, uint64_t* value) {
    *value = 0;
    return memory.Read(address, value, layout.pointerSize);  // little-endian: the low bytes
  };
  if (peb == 0 || peb > top - layout.parametersOffset) return std::wstring();
  uint64_t parameters = 0;
  if (!readPointer(peb + layout.parametersOffset, &parameters) || parameters == 0 ||
      parameters > top - layout.commandLineOffset)
    return std::wstring();
  // The counted string: 16-bit length and maximum length, then the buffer pointer at the next
  // pointer-aligned offset.
  const uint64_t header = parameters + layout.commandLineOffset;
  uint16_t length = 0;
  uint64_t buffer = 0;
  if (header > top - layout.pointerSize * 2 + 1 || !memory.Read(header, &length, 2) ||
      !readPointer(header + layout.pointerSize, &buffer))
    return std::wstring();
  // An odd byte count can only come from a damaged header: the half character is dropped.
  const uint32_t bytes = length & ~1u;
  if (bytes == 0 || buffer == 0 || buffer > top - bytes + 1) return std::wstring();
  std::wstring text(bytes / sizeof(wchar_t), L'\0');
  if (!memory.Read(buffer, &text[0], bytes)) return std::wstring();
  for (wchar_t& c : text)
    if (c == L'\0') c = L' ';
  return text;
}

int64_t CpuTimeSeconds(const FILETIME& kernel, const FILETIME& user) {
  const uint64_t k = (uint64_t(kernel.dwHighDateTime) << 32) | kernel.dwLowDateTime;
  const uint64_t u = (uint64_t(user.dwHighDateTime) << 32) | user.dwLowDateTime;
  return static_cast<int64_t>((k + u) / 10000000ull);
}

HRESULT RecordProcessModules(CScanItems& items, const std::vector<std::wstring>& moduleNames, ProcessItem* process) {
  for (size_t i = 0; i < moduleNames.size(); ++i) {
    if (moduleNames[i].empty()) continue;
    uint32_t id = 0;
    const HRESULT hr = items.AddModule(NormalizeModulePath(moduleNames[i]), &id);
    if (FAILED(hr)) return hr;
    if (i == 0) process->ModuleRefId = id;
    process->Modules.push_back(id);
  }
  return S_OK;
}

HRESULT CollectProcesses(CRunContext& run, CScanItems& items) {
  run.EnterPhase(kPhaseProcesses);
  {
    CToken self;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, self.Put()))
      EnablePrivilege(self.Get(), SE_DEBUG_NAME, true);
  }
  const bool readElevation = GetOsRecord().Family >= 4;  // Vista or later
  const SystemFunctions fns = LookupSystemFunctions();

  DWORD pids[kMaxProcesses];
  DWORD bytes = 0;
  if (!::EnumProcesses(pids, sizeof(pids), &bytes) || bytes < sizeof(DWORD)) return S_OK;
  const DWORD count = std::min<DWORD>(bytes, sizeof(pids)) / sizeof(DWORD);

  for (DWORD i = 0; i < count; ++i) {
    RETURN_IF_FAILED(run.Checkpoint());
    CKernelHandle process(::OpenProcess(kProcessAccess, FALSE, pids[i]));
    if (!process) continue;

    ProcessItem item;
    item.Pid = pids[i];
    item.ParentPid = ParentPidOf(pids[i]);
    item.User = TokenUserOf(process.Get());
    item.Cmd = CommandLineOf(process.Get(), fns, IsWow64(process.Get(), fns));
    FILETIME created, exited, kernel, user;
    if (::GetProcessTimes(process.Get(), &created, &exited, &kernel, &user)) {
      item.CpuTime = CpuTimeSeconds(kernel, user);
      item.Created = FileTimeToRecordTime(created);
    }
    if (readElevation) item.Elevated = ElevationOf(process.Get(), fns);

    std::vector<std::wstring> moduleNames;
    if (ModuleNamesOf(process.Get(), fns, &moduleNames))
      RETURN_IF_FAILED(RecordProcessModules(items, moduleNames, &item));
    items.PutProcess(std::move(item));
  }
  return S_OK;
}

}  // namespace kal
