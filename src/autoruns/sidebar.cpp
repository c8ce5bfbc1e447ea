#include "autoruns/sidebar.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>
#include <vector>

#include "autoruns/os_version.h"
#include "autoruns/path_resolution.h"

namespace kal {
namespace {

constexpr int32_t kSidebarCategory = 16;
constexpr wchar_t kSideShow[] = L"\\Microsoft\\SideShow\\Gadgets";

// False when the file or its Root section is missing or empty.
bool SettingsGadgets(CAutorunAnalyzer& analyzer, const std::wstring& ini, AutorunRecord& record) {
  std::vector<wchar_t> root(4096);
  if (::GetPrivateProfileSectionW(L"Root", root.data(), static_cast<DWORD>(root.size()), ini.c_str()) == 0)
    return false;
  for (const wchar_t* line = root.data(); *line; line += std::wcslen(line) + 1) {
    if (analyzer.cancelled) break;
    const wchar_t* equals = std::wcschr(line, L'=');
    if (!equals || !StartsWithNoCase(line, L"Section")) continue;
    const std::wstring key(line, equals);
    wchar_t number[16] = {};
    ::GetPrivateProfileStringW(L"Root", key.c_str(), L"", number, 16, ini.c_str());
    if (!number[0]) continue;
    const std::wstring section = std::wstring(L"Section ") + number;
    wchar_t gadget[MAX_PATH] = {};
    ::GetPrivateProfileStringW(section.c_str(), L"PrivateSetting_GadgetName", L"", gadget, MAX_PATH, ini.c_str());
    if (!gadget[0]) continue;
    // The file keeps the gadget's path percent-encoded.
    ::UrlUnescapeW(gadget, nullptr, nullptr, URL_UNESCAPE_INPLACE);
    record.entryName = number;
    record.entryData = key + L":" + gadget;
    record.itemKey = gadget;
    record.filePath = ResolveFilePath(gadget);
    analyzer.Report(record);
  }
  return true;
}

void SideShowGadgets(CAutorunAnalyzer& analyzer, const CHiveParser& view, const std::wstring& key,
                     const std::wstring& where, const std::wstring& itemPrefix, AutorunRecord& record) {
  record.location = where;
  std::vector<std::wstring> names;
  if (view.EnumSubkeys(key, &names) != ERROR_SUCCESS) return;
  for (const std::wstring& name : names) {
    if (analyzer.cancelled) return;
    record.entryName = name;
    record.itemKey = itemPrefix + L"\\" + name;
    record.entryData.clear();
    if (view.ReadString(key + L"\\" + name, L"StartCommand", &record.entryData) != ERROR_SUCCESS)
      record.entryData.clear();
    record.filePath = ResolveFilePath(record.entryData);
    analyzer.Report(record);
  }
}

}  // namespace

void AnalyzeSidebar(CAutorunAnalyzer& analyzer) {
  if (!IsOsAtLeast(6, 0, 0)) return;
  wchar_t localAppData[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, localAppData))) return;
  const std::wstring ini = std::wstring(localAppData) + L"\\Microsoft\\Windows Sidebar\\Settings.ini";
  AutorunRecord record;
  record.category = kSidebarCategory;
  record.location = record.itemKey = ini;
  // Without sidebar settings the SideShow keys are not read either.
  if (!SettingsGadgets(analyzer, ini, record) || analyzer.cancelled) return;
  SideShowGadgets(analyzer, analyzer.Software(), kSideShow, L"HKLM\\Software\\Microsoft\\SideShow\\Gadgets",
                  L"HKLM\\Software\\Microsoft\\SideShow\\Gadgets", record);
  SideShowGadgets(analyzer, analyzer.User(), std::wstring(L"\\Software") + kSideShow,
                  L"HKCU\\Software\\Microsoft\\SideShow\\Gadgets",
                  L"HKU\\" + analyzer.userSid + L"\\Software\\Microsoft\\SideShow\\Gadgets", record);
}

}  // namespace kal
