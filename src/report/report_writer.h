// The report: the computer and every module, process, driver and autorun record of the run's item
// tables as one AptReport XML document, built in memory and saved once at the end. When the
// document can't be built for lack of memory, the same report is streamed to the file instead.
#pragma once

#include <functional>
#include <memory>

#include "collect/scan_items.h"
#include "control/run_context.h"
#include "report/report_document.h"
#include "report/report_tree.h"

namespace kal {

// Phase 6 with the state file forced, then the document, saved to Config().OutputPath. Returns
// the first failure (E_ABORT when a stop was requested between two records: nothing is saved) or
// the result of saving. A failed save leaves OutputPath as it was and, when the run records
// errors, logs "Failed to save report %ls 0x%08x". Should any step of building or saving the
// document run out of memory, the document is dropped and the report streamed (WriteReportStream).
HRESULT WriteReport(CRunContext& run, const CScanItems& items);

// The same with the computer description taken from `computer` instead of GatherComputer. It is
// gathered once, also when the report is streamed after a document that ran out of memory.
HRESULT WriteReport(CRunContext& run, const CScanItems& items, const ComputerSource& computer);

// Where the document comes from: MakeMsXmlReportDocument, or in tests one that fails part-way.
using ReportDocumentSource = std::function<HRESULT(std::unique_ptr<IReportDocument>* document)>;
HRESULT WriteReport(CRunContext& run, const CScanItems& items, const ComputerSource& computer,
                    const ReportDocumentSource& document);

// Phase 6, then the report streamed to Config().OutputPath without a document: the same bytes,
// failures and message as WriteReport.
HRESULT WriteReportStream(CRunContext& run, const CScanItems& items, const ComputerSource& computer);

}  // namespace kal
