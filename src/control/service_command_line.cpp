// Composition of the registered service's command line.
#include "control/service_command_line.h"

#include <vector>

#include "support/hresult.h"

namespace kal {
namespace {

void AppendOption(std::wstring& line, const wchar_t* name) {
  line += L" --";
  line += name;
}

void AppendOption(std::wstring& line, const wchar_t* name, const std::wstring& value) {
  AppendOption(line, name);
  line += L' ';
  line += QuoteServiceValue(value);
}

// The on/off switches take their value only attached with "=" (a separate argument is not read).
void AppendSwitch(std::wstring& line, const wchar_t* name, bool on) {
  AppendOption(line, name);
  line += on ? L"=\"on\"" : L"=\"off\"";
}

}  // namespace

HRESULT GetProgramPath(std::wstring* path, DWORD bufferSize) {
  path->clear();
  std::vector<wchar_t> buffer(bufferSize + 1, 0);
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), bufferSize);
  if (length == 0) return HResultFromLastError();
  if (length >= bufferSize) return HResultFromWin32(ERROR_INSUFFICIENT_BUFFER);
  path->assign(buffer.data(), length);
  return S_OK;
}

std::wstring QuoteServiceValue(const std::wstring& value) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : value) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');  // they precede the closing quote
  out.push_back(L'"');
  return out;
}

std::wstring ComposeServiceCommandLine(const std::wstring& programPath, const RunConfig& config,
                                       const std::wstring& statePath) {
  std::wstring line = L"\"" + programPath + L"\"";
  AppendOption(line, L"service");
  if (config.RecordErrors) AppendOption(line, L"errors");
  // Without it the service would hash and look up the assembly-cache files the scan was told to skip.
  if (config.SkipGac) AppendOption(line, L"skipGAC");
  AppendOption(line, L"scope", config.ScopeText);
  AppendOption(line, L"status", statePath);
  AppendOption(line, L"output", config.OutputPath);
  if (!config.TvlPath.empty()) {
    AppendOption(line, L"tvl", config.TvlPath);
    switch (config.TrlMode) {
      case TrlSource::None:
        AppendOption(line, L"trlNone");
        break;
      case TrlSource::Download:
        AppendOption(line, L"trlDownload");
        break;
      case TrlSource::File:
        if (!config.TrlPath.empty()) AppendOption(line, L"trl", config.TrlPath);
        break;
    }
  }
  if (!config.FlsStatPath.empty()) AppendOption(line, L"flsStat", config.FlsStatPath);
  AppendSwitch(line, L"impersonate", config.Impersonate);
  AppendSwitch(line, L"scanPeOnly", config.ScanPeOnly);
  AppendSwitch(line, L"flsTcp", config.FlsTcp);
  AppendSwitch(line, L"flsUdp", config.FlsUdp);
  if (config.FlsTcpPort != 0) AppendOption(line, L"flsTcpPort", std::to_wstring(config.FlsTcpPort));
  if (config.FlsUdpPort != 0) AppendOption(line, L"flsUdpPort", std::to_wstring(config.FlsUdpPort));
  if (!config.FilterText.empty()) AppendOption(line, L"filter", config.FilterText);
  return line;
}

HRESULT ComposeServiceCommandLine(const RunConfig& config, const std::wstring& statePath, std::wstring* commandLine) {
  commandLine->clear();
  std::wstring program;
  RETURN_IF_FAILED(GetProgramPath(&program));
  *commandLine = ComposeServiceCommandLine(program, config, statePath);
  return S_OK;
}

}  // namespace kal
