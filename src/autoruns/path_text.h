// The text side of autorun path resolution: tokens, file names, GUID shapes and the steps that
// turn registry text into a file path, over an environment that answers the file-system and
// expansion questions. Portable: no Windows headers, so it is built natively and fuzzed.
#pragma once

#include <array>
#include <string>

namespace kal {

// Prefix, suffix and equality tests that fold A-Z only.
bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix);
bool EndsWithNoCase(const std::wstring& text, const std::wstring& suffix);
bool EqualsNoCase(const std::wstring& a, const std::wstring& b);

// The next token of `rest`, which is shortened past it. Leading separators, empty quote pairs
// and an unmatched quote are skipped; with `quoteAware` a quoted run is one token. An empty
// token means `rest` held nothing but separators.
std::wstring NextToken(std::wstring* rest, const std::wstring& separators, bool quoteAware);

// The text after the last backslash; with `dropExtension`, cut before its last dot.
std::wstring FileNameOf(const std::wstring& path, bool dropExtension);

// 38 characters, braces at both ends and dashes at 9, 14, 19 and 24.
bool IsGuidString(const std::wstring& text);

// What path resolution asks of the machine.
class IPathEnvironment {
 public:
  virtual ~IPathEnvironment() = default;
  // The Windows directory, first letter upper-cased; empty when unknown.
  virtual const std::wstring& WindowsDir() const = 0;
  // The device of drive A + index (e.g. \Device\HarddiskVolume2); empty when none.
  virtual const std::wstring& DriveDevice(int index) const = 0;
  // An existing file that is not a directory.
  virtual bool IsFile(const std::wstring& path) const = 0;
  // Environment variables expanded, whole; false keeps the text as it was.
  virtual bool Expand(const std::wstring& text, std::wstring* expanded) const = 0;
  // The long form of an existing path; false keeps the text as it was.
  virtual bool LongForm(const std::wstring& path, std::wstring* longPath) const = 0;
};

// Quotes and arguments dropped, \??\ and \\?\ removed, the kernel-style prefixes turned into a
// Win32 prefix (steps before expansion).
std::wstring ApplyPathPrefix(const std::wstring& text, const IPathEnvironment& env);

// The probes: as given (absolute paths only), then the system directory, then the Windows
// directory, each with no extension, ".exe", ".dll", ".com". True and `path` replaced by the
// first file found.
bool LocateExecutableIn(std::wstring* path, const IPathEnvironment& env);

// The whole resolution: prefix, expansion, file search (also the prefixes that end before a
// space), long form, upper-case drive letter. Never fails: the best form reached comes back.
std::wstring ResolvePathText(const std::wstring& text, const IPathEnvironment& env);

// `path` in <windows>\system32\ moved to <windows>\SysWow64\; anything else unchanged.
std::wstring ToSysWow64In(const std::wstring& path, const std::wstring& windowsDir);

}  // namespace kal
