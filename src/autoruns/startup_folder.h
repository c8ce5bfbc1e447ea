// Startup folders: every entry of the folder starts at logon; a shortcut stands for its target.
#pragma once

#include <string>

#include "autoruns/location_walker.h"

namespace kal {

// One record per entry of the folder (directories are reported, not entered); desktop.ini and
// "cardisabled" are the shell's own files and are skipped.
void ScanStartupFolder(CAutorunAnalyzer& analyzer, AutorunRecord& record, const std::wstring& folderText);

// The folder named by a Shell Folders value (the row's Where) of the user's or the machine's view.
void UserStartupFolder(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);
void MachineStartupFolder(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record);

}  // namespace kal
