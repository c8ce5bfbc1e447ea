// Named handlers of the autorun catalogue: services and drivers, Active Setup, the Winsock
// catalogues and the other locations with reading rules of their own.
#include "autoruns/special_locations.h"

#include <vector>

#include "autoruns/path_resolution.h"

namespace kal {
namespace {

// Subkey names of the location; empty when it can't be read.
std::vector<std::wstring> Subkeys(const Location& location, const std::wstring& key) {
  std::vector<std::wstring> names;
  location.view->EnumSubkeys(key, &names);
  return names;
}

bool ReadText(const CHiveParser& view, const std::wstring& key, const wchar_t* value, std::wstring* text) {
  return view.ReadString(key, value, text) == ERROR_SUCCESS;
}

void Found(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record, const std::wstring& item) {
  record.itemKey = ItemKey(analyzer, location, item);
  analyzer.Report(record);
}

std::wstring SystemRundll32() { return g_WindowsDir + L"\\system32\\rundll32.exe"; }

// Services and drivers share one key; the ImagePath's ".sys" ending tells them apart.
enum class ServiceKind { Service, Driver };

void ServiceEntries(CAutorunAnalyzer& analyzer, AutorunRecord& record, ServiceKind kind) {
  const CHiveParser& system = analyzer.System();
  const std::wstring services = analyzer.controlSetPath + L"\\Services";
  std::vector<std::wstring> names;
  if (system.EnumSubkeys(services, &names) != ERROR_SUCCESS) return;
  for (const std::wstring& name : names) {
    if (analyzer.cancelled) return;
    const std::wstring key = services + L"\\" + name;
    DWORD start = 0;
    if (system.ReadDword(key, L"Start", &start) != ERROR_SUCCESS) continue;
    std::wstring image;
    const bool hasImage = ReadText(system, key, L"ImagePath", &image);
    record.itemKey = L"HKLM\\System\\CurrentControlSet\\Services\\" + name;
    record.entryName = name;
    if (kind == ServiceKind::Driver) {
      if (!hasImage) {
        record.entryData = name;
        record.filePath = g_WindowsDir + L"\\system32\\drivers\\" + name + L".sys";
      } else if (EndsWithNoCase(image, L".sys")) {
        record.entryData = image;
        record.filePath = ResolveFilePath(image);
      } else {
        continue;
      }
    } else {
      if (!hasImage || EndsWithNoCase(image, L".sys")) continue;
      record.entryData = image;
      record.filePath = ResolveFilePath(image);
      std::wstring dll;
      if (ReadText(system, key + L"\\Parameters", L"ServiceDll", &dll) && !dll.empty()) {
        record.entryData = dll;
        record.filePath = ResolveFilePath(dll);
      }
    }
    analyzer.Report(record);
  }
}

// Credential providers and PLAP providers: subkeys named by class id with a display name as
// their default value.
void NamedClassSubkeys(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record,
                       const std::wstring& key, bool wow64) {
  for (const std::wstring& clsid : Subkeys(location, key)) {
    if (analyzer.cancelled) return;
    std::wstring display;
    if (!ReadText(*location.view, key + L"\\" + clsid, nullptr, &display) || display.empty()) continue;
    ApplyClsid(analyzer, clsid, record, wow64);
    record.entryName = display;
    Found(analyzer, location, record, clsid);
  }
}

// Winsock catalogue entries: a name value, or the subkey name when that is missing or empty.
void NameOrSubkey(const CHiveParser& view, const std::wstring& key, const wchar_t* value, const std::wstring& subkey,
                  AutorunRecord& record) {
  std::wstring name;
  record.entryName = ReadText(view, key, value, &name) && !name.empty() ? name : subkey;
}

}  // namespace

void TerminalInitialProgram(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  DWORD inherit = 0;
  if (location.view->ReadDword(location.key, L"fInheritInitialProgram", &inherit) != ERROR_SUCCESS || inherit == 0)
    return;
  std::wstring program;
  if (!ReadText(*location.view, location.key, location.valueName.c_str(), &program) || program.empty()) return;
  record.entryData = program;
  record.filePath = ResolveFilePath(program);
  record.entryName = FileNameOf(record.filePath, false);
  Found(analyzer, location, record, location.valueName);
}

void ActiveSetup(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  for (const std::wstring& component : Subkeys(location, location.key)) {
    if (analyzer.cancelled) return;
    const std::wstring key = location.key + L"\\" + component;
    std::wstring stubPath;
    if (!ReadText(*location.view, key, L"StubPath", &stubPath)) continue;
    record.entryData = stubPath;
    record.entryName.clear();
    ReadText(*location.view, key, nullptr, &record.entryName);
    record.filePath.clear();
    // The command's own program is rundll32 more often than not: the DLL it loads is the entry.
    std::wstring rest = stubPath;
    for (std::wstring token = NextToken(&rest, L" ,", true); !token.empty(); token = NextToken(&rest, L" ,", true)) {
      std::wstring path = ResolveFilePath(token);
      if (!EqualsNoCase(path, SystemRundll32())) {
        record.filePath = std::move(path);
        break;
      }
    }
    Found(analyzer, location, record, component);
  }
}

void WowBootFonts(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  std::vector<HiveValue> values;
  if (location.view->EnumValues(location.key, &values) != ERROR_SUCCESS) return;
  for (const HiveValue& value : values) {
    if (analyzer.cancelled) return;
    if (value.Name.empty() || (value.Type != REG_SZ && value.Type != REG_EXPAND_SZ)) continue;
    std::wstring data = RegistryText(value.Data.data(), value.Data.size());
    if (data.empty()) data = value.Name;
    record.entryName = value.Name;
    record.entryData = data;
    record.filePath = EndsWithNoCase(data, L".fon") ? g_WindowsDir + L"\\Fonts\\" + data : ResolveFilePath(data);
    Found(analyzer, location, record, value.Name);
  }
}

void ExplorerAppKeys(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  for (const std::wstring& app : Subkeys(location, location.key)) {
    if (analyzer.cancelled) return;
    std::wstring execute;
    if (!ReadText(*location.view, location.key + L"\\" + app, L"ShellExecute", &execute)) continue;
    record.entryName = app;
    record.entryData = execute;
    record.filePath.clear();
    // "::{guid}" names a shell folder by its class.
    if (execute.size() > 2 && IsGuidString(execute.substr(2)))
      ApplyClsid(analyzer, execute.substr(2), record);
    else
      record.filePath = ResolveFilePath(execute);
    Found(analyzer, location, record, app);
  }
}

void BrowserExtensions(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  for (const std::wstring& extension : Subkeys(location, location.key)) {
    if (analyzer.cancelled) return;
    const std::wstring key = location.key + L"\\" + extension;
    std::wstring text, command;
    if (!ReadText(*location.view, key, L"ButtonText", &text)) continue;
    if (!ReadText(*location.view, key, L"Exec", &command) && !ReadText(*location.view, key, L"Script", &command))
      continue;
    record.entryName = text;
    record.entryData = command;
    record.filePath = ResolveFilePath(command);
    Found(analyzer, location, record, extension);
  }
}

void Services(CAutorunAnalyzer& analyzer, const Location&, AutorunRecord& record) {
  ServiceEntries(analyzer, record, ServiceKind::Service);
}

void Drivers(CAutorunAnalyzer& analyzer, const Location&, AutorunRecord& record) {
  ServiceEntries(analyzer, record, ServiceKind::Driver);
}

void SnmpExtensionAgents(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  std::vector<HiveValue> values;
  if (location.view->EnumValues(location.key, &values) != ERROR_SUCCESS) return;
  for (const HiveValue& value : values) {
    if (analyzer.cancelled) return;
    const std::wstring data = RegistryText(value.Data.data(), value.Data.size());
    if (!StartsWithNoCase(data, L"Software\\")) continue;
    std::wstring pathname;
    if (!ReadText(analyzer.Software(), data.substr(8), L"Pathname", &pathname)) continue;
    record.entryName = value.Name;
    record.entryData = pathname;
    record.filePath = ResolveFilePath(pathname);
    Found(analyzer, location, record, value.Name);
  }
}

void StillImageEvents(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  for (const std::wstring& event : Subkeys(location, location.key)) {
    const std::wstring eventKey = location.key + L"\\" + event;
    for (const std::wstring& handler : Subkeys(location, eventKey)) {
      if (analyzer.cancelled) return;
      std::wstring command;
      if (!ReadText(*location.view, eventKey + L"\\" + handler, L"Cmdline", &command)) continue;
      record.entryName = handler;
      record.entryData = command;
      record.filePath = ResolveFilePath(command);
      Found(analyzer, location, record, event + L"\\" + handler);
    }
  }
}

void KnownDlls(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  std::wstring dir;
  if (ReadText(*location.view, location.key, L"DllDirectory", &dir) && !dir.empty())
    dir = ResolveFilePath(dir);
  else
    dir = g_WindowsDir + L"\\system32\\";
  if (dir.empty() || dir.back() != L'\\') dir += L"\\";
  std::vector<HiveValue> values;
  if (location.view->EnumValues(location.key, &values) != ERROR_SUCCESS) return;
  for (const HiveValue& value : values) {
    if (analyzer.cancelled) return;
    if (value.Name.empty() || value.Type != REG_SZ) continue;
    record.entryName = value.Name;
    record.entryData = RegistryText(value.Data.data(), value.Data.size());
    record.filePath = ResolveFilePath(dir + record.entryData);
    Found(analyzer, location, record, value.Name);
  }
}

void CredentialProviders(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  NamedClassSubkeys(analyzer, location, record, location.key, false);
}

void PlapProviders(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  NamedClassSubkeys(analyzer, location, record, location.key, true);
  NamedClassSubkeys(analyzer, location, record, location.key + L"\\cardisabled", true);
}

void WinsockProtocols(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  for (const std::wstring& entry : Subkeys(location, location.key)) {
    if (analyzer.cancelled) return;
    const std::wstring key = location.key + L"\\" + entry;
    std::vector<uint8_t> packed;
    DWORD type = REG_NONE;
    if (location.view->ReadBinary(key, L"PackedCatalogItem", &packed, &type) != ERROR_SUCCESS || type != REG_BINARY)
      continue;
    // The item starts with the provider's path as 8-bit text.
    std::string path;
    for (uint8_t c : packed) {
      if (c == 0) break;
      path.push_back(static_cast<char>(c));
    }
    record.entryData.clear();
    if (!path.empty()) {
      const int n = ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
      record.entryData.resize(n > 0 ? n : 0);
      if (n > 0) ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), &record.entryData[0], n);
    }
    record.filePath = ResolveFilePath(record.entryData);
    NameOrSubkey(*location.view, key, L"ProtocolName", entry, record);
    Found(analyzer, location, record, entry);
  }
}

void WinsockNamespaces(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  for (const std::wstring& entry : Subkeys(location, location.key)) {
    if (analyzer.cancelled) return;
    const std::wstring key = location.key + L"\\" + entry;
    std::wstring library;
    if (!ReadText(*location.view, key, L"LibraryPath", &library)) continue;
    record.entryData = library;
    record.filePath = ResolveFilePath(library);
    NameOrSubkey(*location.view, key, L"DisplayString", entry, record);
    Found(analyzer, location, record, entry);
  }
}

void NetworkProviderOrder(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  std::wstring rest;
  if (!ReadText(*location.view, location.key, location.valueName.c_str(), &rest)) return;
  for (std::wstring token = NextToken(&rest, L" ,", false); !token.empty(); token = NextToken(&rest, L" ,", false)) {
    if (analyzer.cancelled) return;
    std::wstring provider;
    if (!ReadText(analyzer.System(), analyzer.controlSetPath + L"\\Services\\" + token + L"\\NetworkProvider",
                  L"ProviderPath", &provider))
      continue;
    record.entryName = token;
    record.entryData = provider;
    record.filePath = ResolveFilePath(provider);
    Found(analyzer, location, record, location.valueName);
  }
}

void LightweightCallHandlers(CAutorunAnalyzer& analyzer, const Location& location, AutorunRecord& record) {
  for (const std::wstring& handler : Subkeys(location, location.key)) {
    if (analyzer.cancelled) return;
    const std::wstring key = location.key + L"\\" + handler;
    std::wstring program;
    if (!ReadText(*location.view, key, L"ExeName", &program) && !ReadText(*location.view, key, L"DllName", &program))
      continue;
    record.entryName = handler;
    record.entryData = program;
    record.filePath = ResolveFilePath(program);
    Found(analyzer, location, record, handler);
  }
}

}  // namespace kal
