// The run's only message channel: a line on standard output (console runs only) and one
// informational entry in the event log under the source "vantorag".
#pragma once

#include <functional>
#include <string>

namespace kal {

// Formats into 256 characters (255 kept). Use %ls for wide strings.
void LogEvent(const wchar_t* format, ...);

// Console runs also print each message; the module sets this once the mode is known.
void SetLogEventRunAsService(bool runAsService);

// Lets a test see each formatted message; pass an empty function to stop.
void SetLogEventObserver(std::function<void(const std::wstring&)> observer);

}  // namespace kal
