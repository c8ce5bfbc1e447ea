// AddModule and the small helpers of the item tables.
#include "collect/scan_items.h"

#include <ctime>

#include "collect/mask_match.h"
#include "support/ascii_case.h"
#include "support/handles.h"

namespace kal {
namespace {

const wchar_t* const kCategoryNames[] = {
    L"Logon",        L"Explorer", L"IE",        L"TaskScheduler", L"Services", L"Drivers",
    L"Codecs",       L"Bootexecute", L"Imagehijacks", L"Appinit", L"KnownDLLs", L"Winlogon",
    L"Winsock",      L"Printmon", L"LsaProviders", L"NetworkProviders", L"Sidebar",
};

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  return !prefix.empty() && text.size() >= prefix.size() &&
         ::CompareStringOrdinal(text.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

const wchar_t* AutorunCategoryName(uint32_t code) {
  return code < sizeof(kCategoryNames) / sizeof(kCategoryNames[0]) ? kCategoryNames[code] : L"";
}

std::wstring ModuleKey(const std::wstring& path) {
  std::wstring key(path);
  for (wchar_t& c : key) c = FoldAsciiLetter(c);
  return key;
}

size_t ModuleKeyHash::operator()(const std::wstring& key) const noexcept {
  uint32_t h = 0;
  for (wchar_t c : key) h = h * 33 + static_cast<uint16_t>(c);
  return h;
}

int64_t FileTimeToRecordTime(const FILETIME& utc) {
  if (utc.dwLowDateTime == 0 && utc.dwHighDateTime == 0) return 0;
  FILETIME local;
  SYSTEMTIME fields;
  if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToSystemTime(&local, &fields)) return 0;
  if (fields.wYear < 1900) return 0;
  std::tm tm = {};
  tm.tm_year = fields.wYear - 1900;
  tm.tm_mon = fields.wMonth - 1;
  tm.tm_mday = fields.wDay;
  tm.tm_hour = fields.wHour;
  tm.tm_min = fields.wMinute;
  tm.tm_sec = fields.wSecond;
  tm.tm_isdst = -1;  // daylight saving decided by the conversion for that date
  const long long seconds = ::_mktime64(&tm);
  return seconds < 0 ? 0 : static_cast<int64_t>(seconds);  // not representable: no time
}

bool LooksLikePeImage(const std::wstring& path) {
  CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  // The mapping takes the file's size, so a view of 64 bytes is refused for a shorter file (and
  // an empty file can't be mapped at all): no size query of its own is needed.
  CFileMapping mapping(::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return false;
  CMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 64));
  if (!view) return false;
  const auto* bytes = static_cast<const uint8_t*>(view.Get());
  return (bytes[0] == 'M' && bytes[1] == 'Z') || (bytes[0] == 'Z' && bytes[1] == 'M');
}

bool CScanItems::InAssemblyCache(const std::wstring& path) const {
  const RunConfig& config = run_.Config();
  return StartsWithNoCase(path, config.NetGacFolder) || StartsWithNoCase(path, config.GacFolder);
}

bool CScanItems::PassesMasks(const std::wstring& path) const {
  const std::vector<std::wstring>& masks = run_.Config().FilterMasks;
  if (masks.empty()) return true;
  for (const std::wstring& mask : masks)
    if (MatchMask(mask, path)) return true;
  return false;
}

HRESULT CScanItems::AddModule(const std::wstring& path, uint32_t* id) {
  std::wstring key = ModuleKey(path);
  const auto found = modules_.find(key);
  if (found != modules_.end()) {
    *id = found->second.Id;
    return S_OK;
  }

  ModuleItem item;
  item.Id = static_cast<uint32_t>(modules_.size() + 1);
  item.Path = path;
  item.Gac = InAssemblyCache(path);
  if (!PassesMasks(path)) return S_FALSE;
  const std::wstring access = FileAccessPath(path);
  if (run_.Config().ScanPeOnly && !LooksLikePeImage(access)) return S_FALSE;

  WIN32_FILE_ATTRIBUTE_DATA data;
  if (::GetFileAttributesExW(access.c_str(), GetFileExInfoStandard, &data)) {
    item.Attributes = data.dwFileAttributes;
    item.Size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    item.Created = FileTimeToRecordTime(data.ftCreationTime);
    item.Accessed = FileTimeToRecordTime(data.ftLastAccessTime);
    item.Modified = FileTimeToRecordTime(data.ftLastWriteTime);
  }

  *id = item.Id;
  StateRecord& state = run_.State();
  state.FilesFound += 1;
  state.BytesFound += item.Size;
  modules_.emplace(std::move(key), std::move(item));
  run_.RefreshState(false);
  return S_OK;
}

}  // namespace kal
