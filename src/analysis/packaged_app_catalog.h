// Where a packaged application keeps the catalog that signs its files: the package folder is the
// first folder below "\Program Files\WindowsApps\", and its catalog is
// "<package folder>\AppxMetadata\CodeIntegrity.cat". Portable: no Windows headers.
#pragma once

#include <string>
#include <string_view>

namespace kal {

// The catalog path for a file inside a package folder; empty when the path does not contain
// "\Program Files\WindowsApps\" (exact case) followed by a folder name and a backslash.
std::wstring PackagedAppCatalogPath(std::wstring_view path);

}  // namespace kal
