// Desktop sidebar gadgets: the gadgets named in the sidebar's settings file, and the SideShow
// gadgets of the machine and of the user.
#pragma once

#include "autoruns/autorun_analyzer.h"

namespace kal {

void AnalyzeSidebar(CAutorunAnalyzer& analyzer);

}  // namespace kal
