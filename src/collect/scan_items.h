// The run's item tables: one ModuleItem per distinct file, and the process, driver and autorun
// records that refer to files by ModuleRefId. AddModule is the one way to register a file.
#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "collect/file_access_path.h"
#include "control/run_context.h"

namespace kal {

struct ModuleItem {
  uint32_t Id = 0;
  std::wstring Path;
  uint64_t Size = 0;
  uint32_t Attributes = 0;
  int64_t Created = 0;
  int64_t Modified = 0;
  int64_t Accessed = 0;
  std::array<uint8_t, 20> Sha1{};
  bool Clr = false;
  bool Gac = false;
  int32_t CloudFls = 3;  // "unknown" until looked up
  int32_t CloudLumen = 0;
  int64_t CloudDate = 0;
  int32_t CloudSigner = 0;
  int32_t Cloud = 0;
  std::wstring Signer;
  std::wstring Description;
  std::wstring Version;
  std::wstring Copyright;
  std::wstring Product;
};

struct ProcessItem {
  uint32_t Pid = 0;
  uint32_t ParentPid = 0;
  uint32_t ModuleRefId = 0;
  std::vector<uint32_t> Modules;
  bool Elevated = false;
  bool UacVirtualization = false;
  int64_t CpuTime = 0;
  int64_t Created = 0;
  std::wstring User;
  std::wstring Cmd;
};

struct AutorunItem {
  uint32_t ModuleRefId = 0;
  uint32_t Scope = 0;
  std::wstring Where;
};

// Report names of the autorun categories 0-16; empty for any other code.
const wchar_t* AutorunCategoryName(uint32_t code);

// The module key: the path with A-Z lower-cased, nothing else changed.
std::wstring ModuleKey(const std::wstring& path);

// h = h * 33 + c over the key's UTF-16 units, 32-bit wrap-around.
struct ModuleKeyHash {
  size_t operator()(const std::wstring& key) const noexcept;
};

// Converts a UTC FILETIME to seconds since 1970 through local time and back (the runtime's
// local-time conversion decides daylight saving); 0 stays 0, a year before 1900 gives 0.
int64_t FileTimeToRecordTime(const FILETIME& utc);


// The PE filter: at least 64 bytes beginning with "MZ" or "ZM", read through a read-only mapping
// opened with read, write and delete sharing. `path` is the form the file calls take
// (FileAccessPath).
bool LooksLikePeImage(const std::wstring& path);

class CScanItems {
 public:
  using ModuleTable = std::unordered_map<std::wstring, ModuleItem, ModuleKeyHash>;

  explicit CScanItems(CRunContext& run) : run_(run) {}

  // 0 with *id = the item's Id when the file is (now) in the table; 1 when the filters turned it
  // away (then *id is left as the caller set it, normally 0).
  HRESULT AddModule(const std::wstring& path, uint32_t* id);

  void PutProcess(ProcessItem item) { processes_[item.Pid] = std::move(item); }
  void PutDriver(const std::wstring& normalizedPath, uint32_t id) { drivers_[normalizedPath] = id; }
  void AppendAutorun(AutorunItem item) { autoruns_.push_back(std::move(item)); }
  void Skip(uint32_t id) { skipped_.insert(id); }
  bool IsSkipped(uint32_t id) const { return skipped_.count(id) != 0; }

  ModuleTable& Modules() { return modules_; }
  const ModuleTable& Modules() const { return modules_; }
  const std::unordered_map<uint32_t, ProcessItem>& Processes() const { return processes_; }
  const std::unordered_map<std::wstring, uint32_t>& Drivers() const { return drivers_; }
  const std::list<AutorunItem>& Autoruns() const { return autoruns_; }

 private:
  bool InAssemblyCache(const std::wstring& path) const;
  bool PassesMasks(const std::wstring& path) const;

  CRunContext& run_;
  ModuleTable modules_;
  std::unordered_map<uint32_t, ProcessItem> processes_;
  std::unordered_map<std::wstring, uint32_t> drivers_;
  std::list<AutorunItem> autoruns_;
  std::unordered_set<uint32_t> skipped_;
};

}  // namespace kal
