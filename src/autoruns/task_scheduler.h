// Scheduled tasks: the Task Scheduler 1.0 work items on systems before version 6, otherwise the
// Task Scheduler 2.0 folder tree with every action of every task.
#pragma once

#include <taskschd.h>

#include "autoruns/autorun_analyzer.h"

namespace kal {

void AnalyzeTaskScheduler(CAutorunAnalyzer& analyzer);

// One folder's tasks (hidden ones included), one record per action, then every subfolder. A call
// that fails skips what needed it and the walk goes on.
void WalkTaskFolder(CAutorunAnalyzer& analyzer, AutorunRecord& record, ITaskFolder* folder);

// A program run through rundll32 stands for the DLL its arguments name.
std::wstring DllOfRundll32(const std::wstring& filePath, const std::wstring& arguments);

}  // namespace kal
