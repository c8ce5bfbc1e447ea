// The OS family codes over hand-made records, the adapter list over hand-built adapter entries,
// and the OS record and computer description as Wine gives them.
#include "report/computer_description.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <sddl.h>

#include "support/handles.h"

namespace kal {
namespace {

// ---------------------------------------------------------------------------------------------
// Family codes

TEST(ComputeOsFamily, Table) {
  const struct {
    const char* name;
    uint32_t platform, major, minor;
    uint16_t architecture;
    bool workstation, r2;
    uint32_t expected;
  } cases[] = {
      // Not the NT platform
      {"9x platform", 1, 4, 10, 0, true, false, 0},
      {"platform 0", 0, 6, 1, 0, true, false, 0},
      {"version resource unread", 0, 0, 0, 0, true, false, 0},
      // 5.x
      {"5.1", 2, 5, 1, 0, true, false, 1},
      {"5.2 x64 workstation", 2, 5, 2, 9, true, false, 1},
      {"5.2 x86 workstation", 2, 5, 2, 0, true, false, 2},
      {"5.2 x64 server", 2, 5, 2, 9, false, false, 2},
      {"5.2 server R2", 2, 5, 2, 0, false, true, 3},
      {"5.2 x64 server R2", 2, 5, 2, 9, false, true, 3},
      // 6.x: note 6.1 puts the server below the workstation
      {"6.0 workstation", 2, 6, 0, 9, true, false, 4},
      {"6.0 server", 2, 6, 0, 9, false, false, 5},
      {"6.1 server", 2, 6, 1, 9, false, false, 6},
      {"6.1 workstation", 2, 6, 1, 0, true, false, 7},
      {"6.2 workstation", 2, 6, 2, 9, true, false, 8},
      {"6.2 server", 2, 6, 2, 9, false, false, 9},
      {"6.3 workstation", 2, 6, 3, 9, true, false, 10},
      {"6.3 server", 2, 6, 3, 9, false, false, 11},
      {"10.0 workstation", 2, 10, 0, 9, true, false, 12},
      {"10.0 server", 2, 10, 0, 9, false, false, 12},
      // Any other NT version
      {"5.0", 2, 5, 0, 0, true, false, 8},
      {"6.4", 2, 6, 4, 9, true, false, 8},
      {"10.1", 2, 10, 1, 9, true, false, 8},
      {"R2 ignored outside 5.2", 2, 6, 0, 0, false, true, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OsRecord record;
    record.PlatformId = c.platform;
    record.MajorVer = c.major;
    record.MinorVer = c.minor;
    record.NativeArchitecture = c.architecture;
    record.IsWorkstation = c.workstation;
    record.IsServerR2 = c.r2;
    EXPECT_EQ(c.expected, ComputeOsFamily(record));
  }
}

TEST(ReadOsRecord, UnreadableVersionResourceLeavesTheVersionFieldsInitial) {
  const OsRecord record = ReadOsRecord(L"C:\\no\\such\\folder\\kernel32.dll");
  EXPECT_EQ(0u, record.MajorVer);
  EXPECT_EQ(0u, record.MinorVer);
  EXPECT_EQ(0u, record.BuildNumber);
  EXPECT_EQ(0u, record.ServicePackMajor);
  EXPECT_EQ(0u, record.ServicePackMinor);
  EXPECT_EQ(0u, record.PlatformId);
  EXPECT_EQ(0u, record.ProductType);
  EXPECT_TRUE(record.IsWorkstation);
  EXPECT_EQ(0u, record.Family);
  EXPECT_EQ(GetOsRecord().IsWow64, record.IsWow64);  // read whatever the version says
  EXPECT_EQ(GetOsRecord().NativeArchitecture, record.NativeArchitecture);
}

TEST(GetOsRecord, AsWineReportsIt) {
  const OsRecord& record = GetOsRecord();
  EXPECT_EQ(&record, &GetOsRecord());
  EXPECT_EQ(2u, record.PlatformId);
  EXPECT_NE(0u, record.MajorVer);
  EXPECT_EQ(1u, record.ProductType);
  EXPECT_TRUE(record.IsWorkstation);
  EXPECT_EQ(ComputeOsFamily(record), record.Family);
  BOOL wow64 = FALSE;
  ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
  EXPECT_EQ(wow64 != FALSE, record.IsWow64);
}

// ---------------------------------------------------------------------------------------------
// Adapters

class ConnectionsFromAdaptersTest : public testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(0, ::WSAStartup(MAKEWORD(2, 0), &data));
  }
  void TearDown() override { ::WSACleanup(); }
};

sockaddr_in V4(const char* text) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = ::inet_addr(text);
  return address;
}

sockaddr_in6 V6(std::initializer_list<uint8_t> bytes, ULONG scope) {
  sockaddr_in6 address = {};
  address.sin6_family = AF_INET6;
  std::copy(bytes.begin(), bytes.end(), address.sin6_addr.s6_addr);
  address.sin6_scope_id = scope;
  return address;
}

template <typename Sockaddr>
IP_ADAPTER_UNICAST_ADDRESS Unicast(Sockaddr* address, IP_ADAPTER_UNICAST_ADDRESS* next) {
  IP_ADAPTER_UNICAST_ADDRESS unicast = {};
  unicast.Length = sizeof(unicast);
  unicast.Address.lpSockaddr = reinterpret_cast<sockaddr*>(address);
  unicast.Address.iSockaddrLength = sizeof(Sockaddr);
  unicast.Next = next;
  return unicast;
}

IP_ADAPTER_ADDRESSES Adapter(const wchar_t* name, DWORD type, IP_ADAPTER_UNICAST_ADDRESS* first,
                             IP_ADAPTER_ADDRESSES* next) {
  IP_ADAPTER_ADDRESSES adapter = {};
  adapter.Length = sizeof(adapter);
  adapter.FriendlyName = const_cast<wchar_t*>(name);
  adapter.IfType = type;
  adapter.FirstUnicastAddress = first;
  adapter.Next = next;
  return adapter;
}

TEST_F(ConnectionsFromAdaptersTest, LastAddressOfEachFamilyWins) {
  // Ethernet: two IPv4 addresses around a link-local IPv6 address, then a second IPv6 one
  sockaddr_in first4 = V4("10.0.0.1"), second4 = V4("10.0.0.2");
  sockaddr_in6 linkLocal = V6({0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 3);
  sockaddr_in6 global = V6({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7}, 0);
  IP_ADAPTER_UNICAST_ADDRESS e4 = Unicast(&global, nullptr);
  IP_ADAPTER_UNICAST_ADDRESS e3 = Unicast(&second4, &e4);
  IP_ADAPTER_UNICAST_ADDRESS e2 = Unicast(&linkLocal, &e3);
  IP_ADAPTER_UNICAST_ADDRESS e1 = Unicast(&first4, &e2);
  // Loopback with one address of each family, the IPv6 one scoped
  sockaddr_in lo4 = V4("127.0.0.1");
  sockaddr_in6 lo6 = V6({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 0);
  sockaddr_in6 scoped = V6({0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}, 5);
  IP_ADAPTER_UNICAST_ADDRESS l2 = Unicast(&lo6, nullptr);
  IP_ADAPTER_UNICAST_ADDRESS l1 = Unicast(&lo4, &l2);
  // An entry without an address is passed over
  IP_ADAPTER_UNICAST_ADDRESS empty = Unicast(static_cast<sockaddr_in*>(nullptr), nullptr);
  IP_ADAPTER_UNICAST_ADDRESS w1 = Unicast(&scoped, nullptr);
  IP_ADAPTER_UNICAST_ADDRESS w0 = Unicast(static_cast<sockaddr_in*>(nullptr), &w1);

  IP_ADAPTER_ADDRESSES wifi = Adapter(L"Wi-Fi", 71, &w0, nullptr);
  IP_ADAPTER_ADDRESSES bare = Adapter(L"Tunnel", 131, &empty, &wifi);
  IP_ADAPTER_ADDRESSES none = Adapter(nullptr, 1, nullptr, &bare);
  IP_ADAPTER_ADDRESSES loopback = Adapter(L"Loopback", 24, &l1, &none);
  IP_ADAPTER_ADDRESSES ethernet = Adapter(L"Ethernet", 6, &e1, &loopback);

  const std::vector<Connection> connections = ConnectionsFromAdapters(&ethernet);
  const struct {
    const wchar_t* name;
    uint32_t type;
    const wchar_t* ipv4;
    const wchar_t* ipv6;
  } expected[] = {
      {L"Ethernet", 6, L"10.0.0.2", L"2001:db8::7"},
      {L"Loopback", 24, L"127.0.0.1", L"::1"},
      {L"", 1, L"", L""},
      {L"Tunnel", 131, L"", L""},
      {L"Wi-Fi", 71, L"", L"fe80::2%5"},
  };
  ASSERT_EQ(sizeof(expected) / sizeof(expected[0]), connections.size());
  for (size_t i = 0; i < connections.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "adapter " << i);
    EXPECT_EQ(expected[i].name, connections[i].Name);
    EXPECT_EQ(expected[i].type, connections[i].Type);
    EXPECT_EQ(expected[i].ipv4, connections[i].IPv4);
    EXPECT_EQ(expected[i].ipv6, connections[i].IPv6);
  }
  EXPECT_TRUE(ConnectionsFromAdapters(nullptr).empty());
}

// ---------------------------------------------------------------------------------------------
// The description under Wine

TEST(GatherComputer, AsWineReportsIt) {
  ComputerDescription description;
  description.Name = L"stale";
  description.Connections.push_back(Connection{L"stale", 1, L"", L""});
  ASSERT_EQ(S_OK, GatherComputer(&description));

  wchar_t computer[MAX_PATH];
  ASSERT_NE(0u, ::GetEnvironmentVariableW(L"COMPUTERNAME", computer, MAX_PATH));
  EXPECT_EQ(computer, description.Name);

  // The SID names the account this process runs as.
  CLocalMem sidMemory;
  PSID sid = nullptr;
  ASSERT_TRUE(::ConvertStringSidToSidW(description.Sid.c_str(), &sid)) << description.Sid;
  sidMemory.Reset(sid);
  wchar_t account[256], domain[256], user[256];
  DWORD accountLength = 256, domainLength = 256, userLength = 256;
  SID_NAME_USE use;
  ASSERT_TRUE(::LookupAccountSidW(nullptr, sid, account, &accountLength, domain, &domainLength, &use));
  ASSERT_TRUE(::GetUserNameW(user, &userLength));
  EXPECT_EQ(std::wstring(user), account);

  const OsRecord& os = GetOsRecord();
  EXPECT_EQ(os.MajorVer, description.MajorVer);
  EXPECT_EQ(os.MinorVer, description.MinorVer);
  EXPECT_EQ(os.BuildNumber, description.BuildNumber);
  EXPECT_EQ(os.ServicePackMajor, description.ServicePackMajor);
  EXPECT_EQ(os.ServicePackMinor, description.ServicePackMinor);
  EXPECT_EQ(os.ProductType, description.ProductType);
  EXPECT_EQ(os.IsServerR2, description.IsServerR2);
  // What the system is, in either build: the native processor architecture tells.
  SYSTEM_INFO native = {};
  ::GetNativeSystemInfo(&native);
  const WORD arch = native.wProcessorArchitecture;
  const bool system64 = arch == PROCESSOR_ARCHITECTURE_AMD64 || arch == PROCESSOR_ARCHITECTURE_IA64 ||
                        arch == PROCESSOR_ARCHITECTURE_ARM64;
  EXPECT_EQ(system64 ? 64u : 32u, description.BitSystem);

  // Wine lists the software loopback with both loopback addresses.
  bool loopback = false;
  for (const Connection& connection : description.Connections) {
    EXPECT_NE(L"stale", connection.Name);
    if (connection.Type == 24 && connection.IPv4 == L"127.0.0.1" && connection.IPv6 == L"::1") loopback = true;
  }
  EXPECT_TRUE(loopback);
}

}  // namespace
}  // namespace kal
