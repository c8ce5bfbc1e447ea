// The analyzer context: view binding, the current control set and the report call.
#include "autoruns/autorun_analyzer.h"

#include <cwchar>

#include "autoruns/path_resolution.h"

namespace kal {

CAutorunAnalyzer::CAutorunAnalyzer() { InitPathContext(); }

CAutorunAnalyzer::~CAutorunAnalyzer() { g_ShellLink.Reset(); }

HRESULT CAutorunAnalyzer::Init(const std::wstring& machine, const std::wstring& sid) {
  return Init(machine, sid, HiveBindings());
}

HRESULT CAutorunAnalyzer::Init(const std::wstring& machine, const std::wstring& sid, const HiveBindings& bindings) {
  if (sid.empty()) return E_INVALIDARG;
  twoViews_ = bindings.twoViews;
  const REGSAM native = twoViews_ ? KEY_WOW64_64KEY : 0;
  const std::wstring userPrefix = bindings.userPrefix.empty() ? sid : bindings.userPrefix;
  system_ = CHiveParser(bindings.systemRoot, bindings.systemPrefix, native);
  softwareNative_ = CHiveParser(bindings.softwareRoot, bindings.softwarePrefix, native);
  software32_ = CHiveParser(bindings.softwareRoot, bindings.softwarePrefix, twoViews_ ? KEY_WOW64_32KEY : 0);
  user_ = CHiveParser(bindings.userRoot, userPrefix);
  classes_ = CHiveParser(bindings.userRoot,
                         bindings.classesPrefix.empty() ? userPrefix + L"\\Software\\Classes" : bindings.classesPrefix);
  software_ = &softwareNative_;

  DWORD current = 0;
  if (system_.ReadDword(L"\\Select", L"Current", &current) != ERROR_SUCCESS) current = 0;
  wchar_t set[32];
  std::swprintf(set, 32, L"\\ControlSet%03u", static_cast<unsigned>(current));
  controlSetPath = set;
  if (!system_.KeyExists(controlSetPath)) controlSetPath = L"\\CurrentControlSet";

  machineName = machine;
  userSid = sid;
  cancelled = false;
  return S_OK;
}

void CAutorunAnalyzer::Report(AutorunRecord& record) {
  if (record.entryName.empty()) record.entryName = L"n/a";
  OnAutorunFound(record);
}

}  // namespace kal
