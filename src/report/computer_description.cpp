// The OS record (version resource of kernel32.dll, version verification probes, architecture)
// and the computer description of the report.
#include "report/computer_description.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <sddl.h>

#include <memory>
#include <new>

#include "support/bitness.h"
#include "support/handles.h"
#include "support/hresult.h"
#include "support/sized_query.h"

namespace kal {
namespace {

constexpr WORD kArchitectureX64 = 9;
constexpr ULONG kAdapterBufferSize = 15000;

// VerifyVersionInfoW of `info` with every field of `typeMask` compared by `condition`.
bool VerifyVersion(OSVERSIONINFOEXW info, DWORD typeMask, BYTE condition = VER_EQUAL) {
  info.dwOSVersionInfoSize = sizeof(info);
  ULONGLONG conditions = 0;
  for (DWORD bit = 1; bit != 0 && bit <= typeMask; bit <<= 1)
    if (typeMask & bit) conditions = ::VerSetConditionMask(conditions, bit, condition);
  return ::VerifyVersionInfoW(&info, typeMask, conditions) != FALSE;
}

bool ProductTypeIs(BYTE type) {
  OSVERSIONINFOEXW info = {};
  info.wProductType = type;
  return VerifyVersion(info, VER_PRODUCT_TYPE);
}

bool PlatformIs(DWORD platform) {
  OSVERSIONINFOEXW info = {};
  info.dwPlatformId = platform;
  return VerifyVersion(info, VER_PLATFORMID);
}

bool ReadKernelVersion(const std::wstring& path, OsRecord* record) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<uint8_t> data(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return false;
  void* block = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data.data(), L"\\", &block, &length) || !block || length < sizeof(VS_FIXEDFILEINFO))
    return false;
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
  record->MajorVer = HIWORD(fixed->dwFileVersionMS);
  record->MinorVer = LOWORD(fixed->dwFileVersionMS);
  record->BuildNumber = HIWORD(fixed->dwFileVersionLS);
  return true;
}

void ProbeServicePack(OsRecord* record) {
  OSVERSIONINFOEXW info = {};
  info.dwMajorVersion = record->MajorVer;
  info.dwMinorVersion = record->MinorVer;
  for (WORD major = 0; major <= 9; ++major) {
    for (WORD minor = 0; minor <= 9; ++minor) {
      info.wServicePackMajor = major;
      info.wServicePackMinor = minor;
      if (VerifyVersion(info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR | VER_SERVICEPACKMINOR)) {
        record->ServicePackMajor = major;
        record->ServicePackMinor = minor;
        return;
      }
    }
  }
}

template <typename Fn>
Fn LookupKernel32(const char* name) {
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  return kernel32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel32, name))) : nullptr;
}

WORD NativeArchitecture() {
  SYSTEM_INFO info = {};
  if (const auto native = LookupKernel32<void(WINAPI*)(SYSTEM_INFO*)>("GetNativeSystemInfo"))
    native(&info);
  else
    ::GetSystemInfo(&info);
  return info.wProcessorArchitecture;
}

uint16_t ProbeSuiteMask() {
  uint16_t mask = 0;
  for (uint32_t bit = 1; bit <= 0x8000; bit <<= 1) {
    OSVERSIONINFOEXW info = {};
    info.wSuiteMask = static_cast<WORD>(bit);
    if (VerifyVersion(info, VER_SUITENAME, VER_AND)) mask = static_cast<uint16_t>(mask | bit);
  }
  return mask;
}

HRESULT ProcessUserSid(std::wstring* sid) {
  CToken token;
  RETURN_LAST_ERROR_IF_FALSE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()));
  std::vector<uint8_t> data;
  RETURN_IF_FAILED(QueryTokenInformation(token.Get(), TokenUser, &data));
  if (data.size() < sizeof(TOKEN_USER)) return HResultFromWin32(ERROR_INVALID_DATA);
  CLocalMem text;
  LPWSTR raw = nullptr;
  RETURN_LAST_ERROR_IF_FALSE(::ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(data.data())->User.Sid, &raw));
  text.Reset(raw);
  sid->assign(raw);
  return S_OK;
}

std::wstring AddressToString(const SOCKET_ADDRESS& address) {
  wchar_t text[128];
  DWORD length = 128;
  if (::WSAAddressToStringW(address.lpSockaddr, static_cast<DWORD>(address.iSockaddrLength), nullptr, text,
                            &length) != 0)
    return std::wstring();
  return text;
}

// The socket library for the address conversions; balanced on every path.
class CSocketLibrary {
 public:
  CSocketLibrary() {
    WSADATA data;
    started_ = ::WSAStartup(MAKEWORD(2, 0), &data) == 0;
  }
  ~CSocketLibrary() {
    if (started_) ::WSACleanup();
  }
  CSocketLibrary(const CSocketLibrary&) = delete;
  CSocketLibrary& operator=(const CSocketLibrary&) = delete;

 private:
  bool started_ = false;
};

std::vector<Connection> GatherConnections() {
  CSocketLibrary sockets;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER |
                      GAA_FLAG_INCLUDE_PREFIX;
  ULONG size = kAdapterBufferSize;
  std::unique_ptr<uint8_t[]> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  // The list can grow between two calls; a few rounds are enough for any real machine.
  for (int round = 0; round < 8 && result == ERROR_BUFFER_OVERFLOW; ++round) {
    buffer.reset(new (std::nothrow) uint8_t[size]);
    if (!buffer) return {};
    result = ::GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get()), &size);
  }
  if (result != NO_ERROR) return {};
  return ConnectionsFromAdapters(reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.get()));
}

}  // namespace

uint32_t ComputeOsFamily(const OsRecord& r) {
  if (r.PlatformId != VER_PLATFORM_WIN32_NT) return 0;
  const bool workstation = r.IsWorkstation;
  switch (r.MajorVer * 100 + r.MinorVer) {
    case 501: return 1;
    case 502:
      if (r.NativeArchitecture == kArchitectureX64 && workstation) return 1;  // XP x64
      return r.IsServerR2 ? 3 : 2;
    case 600: return workstation ? 4 : 5;
    case 601: return workstation ? 7 : 6;
    case 602: return workstation ? 8 : 9;
    case 603: return workstation ? 10 : 11;
    case 1000: return 12;
    default: return 8;
  }
}

OsRecord ReadOsRecord(const std::wstring& kernelPath) {
  OsRecord record;
  if (ReadKernelVersion(kernelPath, &record)) {
    ProbeServicePack(&record);
    record.IsWorkstation = ProductTypeIs(VER_NT_WORKSTATION);
    record.PlatformId = PlatformIs(0) ? 0 : PlatformIs(1) ? 1 : PlatformIs(2) ? 2 : 0;
    record.ProductType = ProductTypeIs(VER_NT_WORKSTATION)          ? VER_NT_WORKSTATION
                         : ProductTypeIs(VER_NT_SERVER)             ? VER_NT_SERVER
                         : ProductTypeIs(VER_NT_DOMAIN_CONTROLLER) ? VER_NT_DOMAIN_CONTROLLER
                                                                    : 0;
  }
  record.IsServerR2 = ::GetSystemMetrics(SM_SERVERR2) != 0;
  record.NativeArchitecture = NativeArchitecture();
  record.Family = ComputeOsFamily(record);
  record.IsWow64 = RunsUnderWow64();
  return record;
}

const OsRecord& GetOsRecord() {
  static OsRecord record;
  static bool filled = false;
  if (!filled) {
    wchar_t windows[MAX_PATH];
    const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring folder = length > 0 && length < MAX_PATH ? std::wstring(windows, length) : std::wstring();
    // An error raised here leaves the record unfilled, so the next call tries again.
    record = ReadOsRecord(folder.empty() ? std::wstring() : folder + L"\\System32\\kernel32.dll");
    filled = true;
  }
  return record;
}

std::vector<Connection> ConnectionsFromAdapters(const IP_ADAPTER_ADDRESSES* adapters) {
  std::vector<Connection> connections;
  for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter; adapter = adapter->Next) {
    Connection connection;
    if (adapter->FriendlyName) connection.Name = adapter->FriendlyName;
    connection.Type = adapter->IfType;
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
      const SOCKET_ADDRESS& address = unicast->Address;
      if (!address.lpSockaddr) continue;
      if (address.lpSockaddr->sa_family == AF_INET)
        connection.IPv4 = AddressToString(address);
      else if (address.lpSockaddr->sa_family == AF_INET6)
        connection.IPv6 = AddressToString(address);
    }
    connections.push_back(std::move(connection));
  }
  return connections;
}

HRESULT GatherComputer(ComputerDescription* description) {
  *description = ComputerDescription();
  wchar_t name[MAX_PATH];
  DWORD nameLength = MAX_PATH;
  if (::GetComputerNameW(name, &nameLength)) description->Name.assign(name, nameLength);

  const OsRecord& os = GetOsRecord();
  description->MajorVer = os.MajorVer;
  description->MinorVer = os.MinorVer;
  description->BuildNumber = os.BuildNumber;
  description->ServicePackMajor = os.ServicePackMajor;
  description->ServicePackMinor = os.ServicePackMinor;
  description->ProductType = os.ProductType;
  description->IsServerR2 = os.IsServerR2;
  description->BitSystem = IsSystem64Bit() ? 64 : 32;
  description->SuiteMask = ProbeSuiteMask();
  RETURN_IF_FAILED(ProcessUserSid(&description->Sid));
  description->Connections = GatherConnections();
  return S_OK;
}

}  // namespace kal
