// The computer and its operating system: the process-wide OS record with its family code, and the
// description the report opens with (name, SID, version, adapters).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/win.h"

struct _IP_ADAPTER_ADDRESSES_LH;

namespace kal {

struct OsRecord {
  uint32_t MajorVer = 0;
  uint32_t MinorVer = 0;
  uint32_t BuildNumber = 0;
  uint16_t ServicePackMajor = 0;
  uint16_t ServicePackMinor = 0;
  uint32_t PlatformId = 0;
  bool IsWorkstation = true;
  uint8_t ProductType = 0;
  uint16_t NativeArchitecture = 0;
  bool IsServerR2 = false;
  bool IsWow64 = false;
  uint32_t Family = 0;
};

// The family code from the record's other fields (pure; the table of codes 0-12).
uint32_t ComputeOsFamily(const OsRecord& record);

// Filled on the first call, once per process, then read-only.
const OsRecord& GetOsRecord();

// The record filled from the version resource of `kernelPath` (GetOsRecord passes the system's
// kernel32.dll). When that can't be read, the version, service pack, platform and product type
// keep their initial values (so the family is 0); the other fields are still read.
OsRecord ReadOsRecord(const std::wstring& kernelPath);

struct Connection {
  std::wstring Name;
  uint32_t Type = 0;
  std::wstring IPv4;
  std::wstring IPv6;
};

struct ComputerDescription {
  std::wstring Name;
  std::wstring Sid;
  uint32_t MajorVer = 0;
  uint32_t MinorVer = 0;
  uint32_t BuildNumber = 0;
  uint16_t ServicePackMajor = 0;
  uint16_t ServicePackMinor = 0;
  uint16_t SuiteMask = 0;
  uint8_t ProductType = 0;
  uint32_t BitSystem = 32;
  bool IsServerR2 = false;
  std::vector<Connection> Connections;
};

// One Connection per adapter of the list in its order; of each address family (2 and 23) the last
// unicast address wins. The socket library must be started (addresses are converted by it).
std::vector<Connection> ConnectionsFromAdapters(const _IP_ADAPTER_ADDRESSES_LH* adapters);

// Fails only when the process token's user SID can't be read; every other step degrades to
// empty or zero values.
HRESULT GatherComputer(ComputerDescription* description);

}  // namespace kal
