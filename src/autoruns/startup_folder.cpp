#include "autoruns/startup_folder.h"

#include "autoruns/path_resolution.h"
#include "support/handles.h"

namespace kal {
namespace {

constexpr wchar_t kShellFolders[] = L"\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

bool IsDotEntry(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

void ScanNamedFolder(CAutorunAnalyzer& analyzer, const CHiveParser& view, const std::wstring& key,
                     const std::wstring& valueName, AutorunRecord& record) {
  std::wstring folder;
  if (view.ReadString(key, valueName.c_str(), &folder) != ERROR_SUCCESS || folder.empty()) return;
  record.location = record.itemKey = folder;
  ScanStartupFolder(analyzer, record, folder);
  const int32_t category = record.category;
  record = AutorunRecord();
  record.category = category;
}

}  // namespace

void ScanStartupFolder(CAutorunAnalyzer& analyzer, AutorunRecord& record, const std::wstring& folderText) {
  std::wstring dir = ResolveFilePath(folderText);
  if (dir.empty() || dir.back() != L'\\') dir += L"\\";
  WIN32_FIND_DATAW found{};
  CFindHandle search(::FindFirstFileW((dir + L"*.*").c_str(), &found));
  if (!search) return;
  do {
    if (analyzer.cancelled) return;
    if (IsDotEntry(found.cFileName)) continue;
    const std::wstring name = found.cFileName;
    const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!directory && (EqualsNoCase(name, L"desktop.ini") || EqualsNoCase(name, L"cardisabled"))) continue;
    record.entryName = name;
    record.entryData = record.itemKey = record.filePath = dir + name;
    // An unresolvable shortcut leaves no file, so the frame drops it.
    if (EndsWithNoCase(record.entryData, L".lnk")) record.filePath = ResolveShortcut(record.filePath);
    analyzer.Report(record);
  } while (::FindNextFileW(search.Get(), &found));
}

void UserStartupFolder(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  ScanNamedFolder(analyzer, analyzer.User(), std::wstring(L"\\Software") + kShellFolders, location.where, record);
}

void MachineStartupFolder(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  ScanNamedFolder(analyzer, analyzer.Software(), kShellFolders, location.where, record);
}

}  // namespace kal
