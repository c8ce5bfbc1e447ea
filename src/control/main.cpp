// Program entry of vantorag.exe: one module object, the command line, then the scan or service.
#include "control/vantorag_module.h"

int wmain(int argc, wchar_t** argv) { return static_cast<int>(kal::ProgramMain(argc, argv)); }
