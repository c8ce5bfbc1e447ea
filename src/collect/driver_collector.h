// The drivers phase: the file of every loaded kernel module is registered and entered in the
// driver table under its normalised path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "collect/scan_items.h"
#include "control/run_context.h"

namespace kal {

// The drivers phase. E_FAIL when the system query can't be found; S_OK with no drivers when the
// module table can't be read or is empty; E_ABORT on a stop; the failed pause wait; a negative
// AddModule result.
HRESULT CollectDrivers(CRunContext& run, CScanItems& items);

// Where the records of a kernel module table lie. The table holds pointer-sized fields, so a
// 32-bit process (also under WOW64, which converts it) and a 64-bit one see different layouts.
struct DriverTableLayout {
  size_t firstRecord;  // the 32-bit count, padded to the records' alignment
  size_t recordSize;
  size_t nameOffset;   // the full path name inside a record, at most 256 bytes
};
constexpr DriverTableLayout kDriverTable32 = {4, 284, 28};
constexpr DriverTableLayout kDriverTable64 = {8, 296, 40};
// The layout this build's queries return.
constexpr DriverTableLayout kDriverTableOwn = sizeof(void*) == 8 ? kDriverTable64 : kDriverTable32;

// The full path names (system ANSI code page) of a kernel module table: a 32-bit count, then the
// records of `layout`. Only records that lie wholly inside `size` are read, whatever the count
// says; a name ends at its first NUL or after 256 bytes; records with an empty name are left out.
std::vector<std::string> ParseDriverTable(const uint8_t* table, size_t size,
                                          const DriverTableLayout& layout = kDriverTableOwn);

// Normalises each name and registers it; the driver table gets every name, with Id 0 when the
// filters turned the file away.
HRESULT RecordDrivers(CRunContext& run, CScanItems& items, const std::vector<std::string>& ansiNames);

}  // namespace kal
