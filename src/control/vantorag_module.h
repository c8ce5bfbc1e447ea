// The program's single module object: run configuration, state record and item tables for the
// life of the process, the command-line modes, and the console or service start.
#pragma once

#include "collect/scan_items.h"
#include "control/run_config.h"
#include "control/run_context.h"
#include "control/state_file.h"
#include "control/state_record.h"

namespace kal {

class CvantoragModule {
 public:
  CvantoragModule();
  CvantoragModule(const CvantoragModule&) = delete;
  CvantoragModule& operator=(const CvantoragModule&) = delete;

  // True when the program goes on to the scan or the service; false when it ends with *exitCode.
  bool ParseCommandLine(int argc, wchar_t* const* argv, HRESULT* exitCode);

  // Console: COM in the multi-threaded apartment, then the scan. Service: the dispatcher.
  DWORD Start();

  bool RunAsService() const { return runAsService_; }
  RunConfig& Config() { return config_; }
  StateRecord& State() { return state_; }
  CScanItems& Items() { return items_; }
  CRunContext& Context() { return context_; }

 private:
  HRESULT RunScan();

  bool runAsService_ = true;  // cleared before the options are read
  RunConfig config_;
  StateRecord state_;
  CStateWriteClock stateClock_;
  CRunContext context_;
  CScanItems items_;
};

// Sets the named stop event of a running scan, if there is one.
void SendStopRequest();

// wmain's body: module, command line, start; returns the process exit code.
DWORD ProgramMain(int argc, wchar_t* const* argv);

}  // namespace kal
