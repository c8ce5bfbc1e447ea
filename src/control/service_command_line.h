// The command line a registered service runs with: the program's own path, --service and the
// scan options of this run, written so that the service reads back exactly these options.
#pragma once

#include <string>

#include "control/run_config.h"

namespace kal {

// The program's own full path from its module file name, read into a buffer of `bufferSize`
// characters. A path that fills the buffer may have been cut, so it fails with
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER); *path is then left empty.
HRESULT GetProgramPath(std::wstring* path, DWORD bufferSize = MAX_PATH);

// One value in double quotes such that the program's argument parsing gives `value` back: the
// backslashes before a quote (embedded or closing) are doubled and an embedded quote becomes \".
// A value with neither a quote nor a trailing backslash is only wrapped in quotes.
std::wstring QuoteServiceValue(const std::wstring& value);

// `"program" --service [--errors] --scope "..." --status "..." --output "..." ...` in the fixed
// order of its pieces; `statePath` is the state record's path (--status).
std::wstring ComposeServiceCommandLine(const std::wstring& programPath, const RunConfig& config,
                                       const std::wstring& statePath);

// The same with the program's own path; fails as GetProgramPath does.
HRESULT ComposeServiceCommandLine(const RunConfig& config, const std::wstring& statePath, std::wstring* commandLine);

}  // namespace kal
