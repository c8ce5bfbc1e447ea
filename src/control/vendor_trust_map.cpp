// Seeding the vendor cache from the list files and the downloaded removed list.
#include "control/vendor_trust_map.h"

#include "support/handles.h"

namespace kal {
namespace {

std::wstring DecodeAnsi(std::string_view bytes) {
  if (bytes.empty()) return std::wstring();
  const int size = static_cast<int>(bytes.size());
  const int units = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, &text[0], units);
  return text;
}

// The whole file; false when it can't be opened or read completely.
bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size = {};
  // A vendor list is a few kilobytes; refuse anything that could not sensibly be one.
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || size.QuadPart > (64 << 20)) return false;
  bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes->empty() && (!::ReadFile(file.Get(), &(*bytes)[0], static_cast<DWORD>(bytes->size()), &read, nullptr) ||
                          read != bytes->size()))
    return false;
  return true;
}

void AddNames(const VendorNames& names, int32_t verdict, VendorTrustMap* map) {
  for (const std::wstring& name : names) (*map)[name] = verdict;
}

}  // namespace

VendorNames ReadVendorListFile(const std::wstring& path) {
  std::string bytes;
  if (!ReadWholeFile(path, &bytes)) return VendorNames();
  return ReadVendorList(bytes, DecodeAnsi);
}

void SeedVendorTrustMap(const RunConfig& config, const RemovedListDownload& download, VendorTrustMap* map) {
  if (!config.TvlPath.empty()) AddNames(ReadVendorListFile(config.TvlPath), kVendorTrusted, map);
  switch (config.TrlMode) {
    case TrlSource::Download: {
      std::string body;
      if (download && SUCCEEDED(download(&body))) AddNames(ReadDownloadedVendorList(body), kVendorDeleted, map);
      break;
    }
    case TrlSource::File:
      if (!config.TrlPath.empty()) AddNames(ReadVendorListFile(config.TrlPath), kVendorDeleted, map);
      break;
    case TrlSource::None:
      break;
  }
}

}  // namespace kal
