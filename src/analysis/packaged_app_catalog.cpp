// The packaged-application catalog path rule.
#include "analysis/packaged_app_catalog.h"

namespace kal {

std::wstring PackagedAppCatalogPath(std::wstring_view path) {
  static constexpr std::wstring_view kAppsFolder = L"\\Program Files\\WindowsApps\\";
  const size_t apps = path.find(kAppsFolder);
  if (apps == std::wstring_view::npos) return std::wstring();
  const size_t packageEnd = path.find(L'\\', apps + kAppsFolder.size());
  if (packageEnd == std::wstring_view::npos) return std::wstring();
  std::wstring catalog(path.substr(0, packageEnd));
  catalog += L"\\AppxMetadata\\CodeIntegrity.cat";
  return catalog;
}

}  // namespace kal
