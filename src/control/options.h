// The option table and the readers that turn the argument vector into the run configuration.
#pragma once

#include <string_view>

#include "control/run_config.h"
#include "control/state_record.h"

namespace kal {

// Reads argc/argv (not the command-line string) into `config` and `state.StatePath`.
// S_FALSE: every option read; S_OK: `--unregService` ended the reading; E_INVALIDARG: a second
// mode option or a `--scope` value that yields nothing. POSIXLY_CORRECT is read at the first call.
HRESULT ParseOptions(int argc, wchar_t* const* argv, RunConfig& config, StateRecord& state);

// Adds the scope flags and file-system entries of one `--scope` value; false when the value
// yields neither a flag nor an entry (counting what earlier values gave).
bool ParseScope(RunConfig& config, std::wstring_view text);

// Fills FilterMasks from `text`; false when the text is blank.
bool ParseFilter(RunConfig& config, std::wstring_view text);

// A port value: leading white space, optional sign, digits up to the first non-digit, modulo 65536.
uint16_t ParsePortValue(const wchar_t* text);

}  // namespace kal
