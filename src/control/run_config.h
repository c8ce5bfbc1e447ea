// The run configuration: everything the command line says about one run. Built once by the
// option parser on the main thread and read by every subsystem afterwards.
#pragma once

#include <atomic>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/handles.h"

namespace kal {

enum class RunMode : uint32_t { Scan = 0, Service = 1, RegisterService = 2, UnregisterService = 3, SendStop = 4 };

// Source of the removed-vendor list.
enum class TrlSource : uint32_t { None = 0, Download = 1, File = 2 };

// One file-system entry of the scope: a folder with a mask, a single file (empty mask) or "?:"
// for every fixed drive.
struct ScopeEntry {
  std::wstring Mask;
  std::wstring Path;
};

extern const wchar_t kDefaultFilterText[];
// Name of the event that `--sendStop` sets and the lookup phase watches.
extern const wchar_t kStopEventName[];

struct RunConfig {
  RunMode Mode = RunMode::Scan;
  std::wstring ScopeText;
  std::wstring OutputPath;
  std::wstring TvlPath;
  std::wstring GacFolder;
  std::wstring NetGacFolder;
  CEvent StopEvent;
  TrlSource TrlMode = TrlSource::None;
  std::wstring TrlPath;
  std::wstring FlsStatPath;
  std::wstring FilterText = kDefaultFilterText;
  std::vector<std::wstring> FilterMasks;
  bool ScanDrivers = false;
  bool ScanProcesses = false;
  bool ScanAutoruns = false;
  bool SkipGac = false;
  bool FlsTcp = true;
  bool FlsUdp = true;
  uint16_t FlsTcpPort = 4442;
  uint16_t FlsUdpPort = 0;
  bool Impersonate = false;
  bool ScanPeOnly = true;
  std::atomic<LONG> PauseRequested{0};
  std::atomic<LONG> StopRequested{0};
  CEvent RunEvent;
  bool RecordErrors = false;
  // Keyed by the lower-cased expanded token; the first occurrence of a key wins.
  std::unordered_map<std::wstring, ScopeEntry> ScopeEntries;
};

}  // namespace kal
