// Autorun text to file paths on this machine: the process-wide path context (Windows directory,
// drive devices, one shell-link object) and the resolution operations the catalogue applies.
#pragma once

#include <array>
#include <string>

#include <shobjidl.h>

#include "autoruns/path_text.h"
#include "support/com.h"

namespace kal {

class CAutorunAnalyzer;

extern std::wstring g_WindowsDir;
extern std::array<std::wstring, 26> g_DriveDevices;
extern CComPtr<IShellLinkW> g_ShellLink;

// Fills the path context once per process; later calls return at once.
void InitPathContext();

// The file-system answers of this machine for the text steps. Files are probed through the
// access form of the item tables, so a 32-bit process finds native system files too.
class CMachinePathEnvironment : public IPathEnvironment {
 public:
  const std::wstring& WindowsDir() const override { return g_WindowsDir; }
  const std::wstring& DriveDevice(int index) const override { return g_DriveDevices[index]; }
  bool IsFile(const std::wstring& path) const override;
  // Expansions longer than a path buffer come back whole.
  bool Expand(const std::wstring& text, std::wstring* expanded) const override;
  bool LongForm(const std::wstring& path, std::wstring* longPath) const override;
};

std::wstring ResolveFilePath(const std::wstring& text);
bool LocateExecutable(std::wstring* path);
std::wstring ToSysWow64(const std::wstring& path);

// The target of a .lnk file, resolved; empty when the link can't be loaded or resolved. Needs COM
// on the calling thread.
std::wstring ResolveShortcut(const std::wstring& lnkPath);

// The resolved command; for rundll32 the DLL its first argument names instead.
std::wstring ResolveRundll32Command(const std::wstring& commandLine);

// The class name of `clsid` (user classes first, then the machine's) and, in `filePath`, its
// resolved in-process server; wow64 reads the 32-bit class keys and moves the file to SysWow64.
// Machine classes are read through the analyzer's current SOFTWARE view.
std::wstring ResolveClsid(const CAutorunAnalyzer& analyzer, const std::wstring& clsid, std::wstring* filePath,
                          bool wow64);

}  // namespace kal
