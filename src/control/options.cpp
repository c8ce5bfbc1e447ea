// The option table and its handlers, scope and filter parsing.
#include "control/options.h"

#include <cstdlib>
#include <cwchar>
#include <cwctype>

#include "control/getopt_long.h"
#include "support/text_list.h"

namespace kal {
namespace {

enum OptionNumber {
  kUnregService = 1000,
  kRegService,
  kService,
  kErrors,
  kScope,
  kOutput,
  kStatus,
  kTvl,
  kTrlNone,
  kTrlDownload,
  kTrl,
  kSkipGac,
  kFlsStat,
  kFlsUdp,
  kFlsTcp,
  kFlsUdpPort,
  kFlsTcpPort,
  kSendStop,
  kFilter,
  kImpersonate,
  kScanPeOnly,
};

const LongOption kOptions[] = {
    {L"unregService", OptionValue::None, kUnregService},
    {L"regService", OptionValue::None, kRegService},
    {L"service", OptionValue::None, kService},
    {L"errors", OptionValue::None, kErrors},
    {L"scope", OptionValue::Required, kScope},
    {L"output", OptionValue::Required, kOutput},
    {L"status", OptionValue::Required, kStatus},
    {L"tvl", OptionValue::Required, kTvl},
    {L"trl", OptionValue::Required, kTrl},
    {L"trlNone", OptionValue::None, kTrlNone},
    {L"trlDownload", OptionValue::None, kTrlDownload},
    {L"skipGAC", OptionValue::None, kSkipGac},
    {L"flsStat", OptionValue::Required, kFlsStat},
    {L"flsUdp", OptionValue::Optional, kFlsUdp},
    {L"flsTcp", OptionValue::Optional, kFlsTcp},
    {L"flsUdpPort", OptionValue::Required, kFlsUdpPort},
    {L"flsTcpPort", OptionValue::Required, kFlsTcpPort},
    {L"sendStop", OptionValue::None, kSendStop},
    {L"filter", OptionValue::Required, kFilter},
    {L"impersonate", OptionValue::Optional, kImpersonate},
    {L"scanPeOnly", OptionValue::Optional, kScanPeOnly},
};

// On unless the value is "off" in any letter case.
bool SwitchValue(const wchar_t* value) { return !(value && ::_wcsicmp(value, L"off") == 0); }

bool SetMode(RunConfig& config, RunMode mode) {
  if (config.Mode != RunMode::Scan) return false;
  config.Mode = mode;
  return true;
}

bool PosixlyCorrect() {
  static const bool set = ::GetEnvironmentVariableW(L"POSIXLY_CORRECT", nullptr, 0) != 0 ||
                          ::GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  return set;
}

std::wstring LowerCase(std::wstring text) {
  if (!text.empty()) ::CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

bool IsDriveWildcard(const std::wstring& path) { return ::_wcsicmp(path.c_str(), L"?:") == 0; }

void AddScopeEntry(RunConfig& config, const std::wstring& token) {
  wchar_t expanded[MAX_PATH] = {};
  const DWORD n = ::ExpandEnvironmentStringsW(token.c_str(), expanded, MAX_PATH);
  if (n == 0) return;
  expanded[MAX_PATH - 1] = 0;  // a longer expansion is cut to 259 characters
  const std::wstring path(expanded);
  const std::wstring key = LowerCase(path);
  if (config.ScopeEntries.count(key)) return;  // the first occurrence wins

  ScopeEntry entry;
  entry.Path = path;
  if (path.find_first_of(L"*?") != std::wstring::npos) {
    const size_t slash = path.find_last_of(L"\\/");
    entry.Mask = slash == std::wstring::npos ? path : path.substr(slash + 1);
    entry.Path = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
    if (entry.Path.empty()) entry.Path = L"?:";
  }
  if (IsDriveWildcard(entry.Path)) {
    entry.Mask = L"*.*";
  } else {
    const DWORD attributes = ::GetFileAttributesW(entry.Path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;  // a missing path is dropped silently
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && entry.Mask.empty()) entry.Mask = L"*.*";
  }
  config.ScopeEntries.emplace(key, std::move(entry));
}

}  // namespace

const wchar_t kDefaultFilterText[] =
    L"*.exe|*.dll|*.sys|*.ocx|*.vbs|*.pif|*.hta|*.htr|*.bat|*.cmd|*.jar|*.java|*.scr|*.class|*.msi";
const wchar_t kStopEventName[] = L"vantor58CB9DDC03674C47856D7D26CCF4F995";

uint16_t ParsePortValue(const wchar_t* text) {
  while (std::iswspace(static_cast<wint_t>(*text))) ++text;
  bool negative = false;
  if (*text == L'+' || *text == L'-') negative = *text++ == L'-';
  uint32_t value = 0;
  for (; *text >= L'0' && *text <= L'9'; ++text) value = value * 10 + static_cast<uint32_t>(*text - L'0');
  return static_cast<uint16_t>(negative ? 0u - value : value);
}

bool ParseScope(RunConfig& config, std::wstring_view text) {
  if (TrimSpace(text).empty()) return false;
  for (const std::wstring& token : SplitBarList(text)) {
    if (::_wcsicmp(token.c_str(), L"processes") == 0) config.ScanProcesses = true;
    else if (::_wcsicmp(token.c_str(), L"drivers") == 0) config.ScanDrivers = true;
    else if (::_wcsicmp(token.c_str(), L"autoruns") == 0) config.ScanAutoruns = true;
    else AddScopeEntry(config, token);
  }
  return config.ScanProcesses || config.ScanDrivers || config.ScanAutoruns || !config.ScopeEntries.empty();
}

bool ParseFilter(RunConfig& config, std::wstring_view text) {
  if (TrimSpace(text).empty()) return false;
  for (std::wstring& mask : SplitBarList(text)) config.FilterMasks.push_back(std::move(mask));
  return true;
}

HRESULT ParseOptions(int argc, wchar_t* const* argv, RunConfig& config, StateRecord& state) {
  CGetoptLong reader(argc, argv, kOptions, sizeof(kOptions) / sizeof(kOptions[0]), PosixlyCorrect());
  for (;;) {
    const wchar_t* value = nullptr;
    const int option = reader.Next(&value);
    if (option == CGetoptLong::kEnd) return S_FALSE;
    switch (option) {
      case kUnregService:
        if (!SetMode(config, RunMode::UnregisterService)) return E_INVALIDARG;
        return S_OK;  // later arguments are not read
      case kRegService:
        if (!SetMode(config, RunMode::RegisterService)) return E_INVALIDARG;
        break;
      case kService:
        if (!SetMode(config, RunMode::Service)) return E_INVALIDARG;
        break;
      case kSendStop:
        if (!SetMode(config, RunMode::SendStop)) return E_INVALIDARG;
        break;
      case kErrors: config.RecordErrors = true; break;
      case kScope:
        if (!ParseScope(config, value)) return E_INVALIDARG;
        config.ScopeText = value;
        break;
      case kOutput: config.OutputPath = value; break;
      case kStatus: state.StatePath = value; break;
      case kTvl:
        config.TvlPath = value;
        if (config.TrlMode == TrlSource::None) config.TrlMode = TrlSource::Download;
        break;
      case kTrl:
        config.TrlMode = TrlSource::File;
        config.TrlPath = value;
        break;
      case kTrlNone: config.TrlMode = TrlSource::None; break;
      case kTrlDownload: config.TrlMode = TrlSource::Download; break;
      case kSkipGac: config.SkipGac = true; break;
      case kFlsStat: config.FlsStatPath = value; break;
      case kFlsUdp: config.FlsUdp = SwitchValue(value); break;
      case kFlsTcp: config.FlsTcp = SwitchValue(value); break;
      case kFlsUdpPort: config.FlsUdpPort = ParsePortValue(value); break;
      case kFlsTcpPort: config.FlsTcpPort = ParsePortValue(value); break;
      case kFilter: config.FilterText = value; break;
      case kImpersonate: config.Impersonate = SwitchValue(value); break;
      case kScanPeOnly: config.ScanPeOnly = SwitchValue(value); break;
      default: break;  // skipped without a message
    }
  }
}

}  // namespace kal
