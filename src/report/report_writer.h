// The report: the computer and every module, process, driver and autorun record of the run's item
// tables as one AptReport XML document, built in memory and saved once at the end.
#pragma once

#include <functional>

#include "collect/scan_items.h"
#include "control/run_context.h"
#include "report/computer_description.h"

namespace kal {

// Fills the computer description that opens the report.
using ComputerSource = std::function<HRESULT(ComputerDescription* description)>;

// Phase 6 with the state file forced, then the document, saved to Config().OutputPath. Returns
// the first failure (E_ABORT when a stop was requested between two records: nothing is saved) or
// the result of saving. A failed save leaves OutputPath as it was and, when the run records
// errors, logs "Failed to save report %ls 0x%08x".
HRESULT WriteReport(CRunContext& run, const CScanItems& items);

// The same with the computer description taken from `computer` instead of GatherComputer.
HRESULT WriteReport(CRunContext& run, const CScanItems& items, const ComputerSource& computer);

}  // namespace kal
