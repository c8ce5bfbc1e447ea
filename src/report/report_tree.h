// The AptReport element tree: which elements and attributes the report holds, in which order,
// with which value forms, and which records the skip set leaves out. Written into any report sink.
#pragma once

#include <functional>

#include "collect/scan_items.h"
#include "control/run_context.h"
#include "report/computer_description.h"
#include "report/report_sink.h"

namespace kal {

// Fills the computer description that opens the report.
using ComputerSource = std::function<HRESULT(ComputerDescription* description)>;

// The root element and everything under it, with Checkpoint between two records. Returns the
// first failure: of Checkpoint (E_ABORT on a stop), of `computer`, or of opening an element.
// Out of memory for a value's text raises CHResultError(E_OUTOFMEMORY) or std::bad_alloc.
HRESULT WriteReportTree(CRunContext& run, const CScanItems& items, const ComputerSource& computer,
                        IReportSink& sink);

}  // namespace kal
