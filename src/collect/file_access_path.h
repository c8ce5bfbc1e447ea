// The form of a recorded path that the file calls are given. Items keep the path as the collector
// saw it; only the access goes through the long-path prefix or past the 32-bit file-system
// redirection.
#pragma once

#include <string>

namespace kal {

// A drive-absolute or UNC path too long for the file calls (MAX_PATH or more) gets the "\\?\"
// prefix; anything else is returned unchanged.
std::wstring ExtendedLengthPath(const std::wstring& path);

// `path` with its leading "<windows folder>\system32" replaced by "<windows folder>\Sysnative",
// compared without case for A-Z; empty when `path` does not lie in that folder.
std::wstring SysnativePath(const std::wstring& path, const std::wstring& windowsFolder);

// The path the file calls use for a recorded path. Under WOW64 a 32-bit process that opens
// "...\system32\..." is sent to the 32-bit system folder; kernel drivers and most native system
// files exist only in the real one, so a system32 path whose file the redirected view lacks is
// reached through "Sysnative" instead. Long paths get the "\\?\" form.
std::wstring FileAccessPath(const std::wstring& path);

}  // namespace kal
