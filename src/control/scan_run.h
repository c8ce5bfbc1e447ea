// One scan run: preparation, the collectors in their fixed order, the lookup phase and the report,
// with the phase and final state of the run kept in the state file.
#pragma once

#include "collect/scan_items.h"
#include "control/run_context.h"

namespace kal {

class CScanRun {
 public:
  CScanRun(CRunContext& context, CScanItems& items) : context_(context), items_(items) {}

  // One complete scan; a stop ends it with S_OK and phase 9.
  HRESULT Run();
  HRESULT Scan();

 private:
  CRunContext& context_;
  CScanItems& items_;
};

}  // namespace kal
