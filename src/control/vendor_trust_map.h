// The vendor cache of one lookup phase: seeded from the trusted list (1) and then the removed
// list (2), so a vendor on both ends up deleted; the lookup phase adds the service's answers.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>

#include "control/run_config.h"
#include "lookup/vendor_list.h"
#include "support/win.h"

namespace kal {

// Signer name (exact, case-sensitive) -> signer verdict; later insertions overwrite.
using VendorTrustMap = std::unordered_map<std::wstring, int32_t>;

constexpr int32_t kVendorTrusted = 1;
constexpr int32_t kVendorDeleted = 2;

// Fetches the removed-vendor list body; a failure contributes nothing.
using RemovedListDownload = std::function<HRESULT(std::string* body)>;

// The names of a list file, decoded by its mark or in the ANSI code page; empty when the file
// can't be read.
VendorNames ReadVendorListFile(const std::wstring& path);

// Fills `map` as the run's options say. `download` is called only in download mode.
void SeedVendorTrustMap(const RunConfig& config, const RemovedListDownload& download, VendorTrustMap* map);

}  // namespace kal
