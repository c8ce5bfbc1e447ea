// The path context of this machine and the resolution operations built on the text steps.
#include "autoruns/path_resolution.h"

#include <shellapi.h>
#include <shlguid.h>

#include <vector>

#include "autoruns/autorun_analyzer.h"
#include "collect/file_access_path.h"
#include "support/handles.h"

namespace kal {

std::wstring g_WindowsDir;
std::array<std::wstring, 26> g_DriveDevices;
CComPtr<IShellLinkW> g_ShellLink;

namespace {

bool g_PathContextFilled = false;

// A call that fills `buffer` and returns the characters written, or the size it needs when the
// buffer is too small, retried with that size.
template <typename Call>
bool GrowingText(Call call, size_t initial, std::wstring* out) {
  std::vector<wchar_t> buffer(initial);
  for (int round = 0; round < 3; ++round) {
    const DWORD n = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return false;
    if (n < buffer.size()) {
      out->assign(buffer.data(), wcsnlen(buffer.data(), n));
      return true;
    }
    buffer.resize(static_cast<size_t>(n) + 1);
  }
  return false;
}

}  // namespace

void InitPathContext() {
  if (g_PathContextFilled) return;
  for (int i = 0; i < 26; ++i) {
    const wchar_t drive[3] = {static_cast<wchar_t>(L'A' + i), L':', 0};
    wchar_t target[MAX_PATH] = {};
    if (::QueryDosDeviceW(drive, target, MAX_PATH) != 0) {
      target[MAX_PATH - 1] = 0;
      g_DriveDevices[i] = target;
    }
  }
  wchar_t windows[MAX_PATH] = {};
  const UINT n = ::GetWindowsDirectoryW(windows, MAX_PATH);
  if (n != 0 && n < MAX_PATH) {
    g_WindowsDir.assign(windows, n);
    if (g_WindowsDir[0] >= L'a' && g_WindowsDir[0] <= L'z') g_WindowsDir[0] = static_cast<wchar_t>(g_WindowsDir[0] - 32);
  }
  g_PathContextFilled = true;
}

bool CMachinePathEnvironment::IsFile(const std::wstring& path) const {
  const DWORD attributes = ::GetFileAttributesW(FileAccessPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CMachinePathEnvironment::Expand(const std::wstring& text, std::wstring* expanded) const {
  // ExpandEnvironmentStringsW counts the terminating NUL in both its answers.
  return GrowingText(
      [&](wchar_t* buffer, DWORD size) {
        const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), buffer, size);
        return needed > size ? needed : (needed == 0 ? 0 : needed - 1);
      },
      MAX_PATH, expanded);
}

bool CMachinePathEnvironment::LongForm(const std::wstring& path, std::wstring* longPath) const {
  return GrowingText([&](wchar_t* buffer, DWORD size) { return ::GetLongPathNameW(path.c_str(), buffer, size); },
                     4096, longPath);
}

std::wstring ResolveFilePath(const std::wstring& text) {
  InitPathContext();
  return ResolvePathText(text, CMachinePathEnvironment());
}

bool LocateExecutable(std::wstring* path) {
  InitPathContext();
  return LocateExecutableIn(path, CMachinePathEnvironment());
}

std::wstring ToSysWow64(const std::wstring& path) { return ToSysWow64In(path, g_WindowsDir); }

std::wstring ResolveShortcut(const std::wstring& lnkPath) {
  if (!g_ShellLink &&
      FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, g_ShellLink.PutVoid())))
    return std::wstring();
  CComPtr<IPersistFile> file;
  if (FAILED(g_ShellLink.As(&file))) return std::wstring();
  wchar_t buffer[MAX_PATH] = {};
  lnkPath.copy(buffer, MAX_PATH - 1);
  if (FAILED(file->Load(buffer, STGM_READ))) return std::wstring();
  if (FAILED(g_ShellLink->Resolve(nullptr, SLR_NO_UI | SLR_UPDATE))) return std::wstring();
  wchar_t target[MAX_PATH] = {};
  if (FAILED(g_ShellLink->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) return std::wstring();
  return ResolveFilePath(target);
}

std::wstring ResolveRundll32Command(const std::wstring& commandLine) {
  const std::wstring path = ResolveFilePath(commandLine);
  if (!EqualsNoCase(path, g_WindowsDir + L"\\system32\\rundll32.exe")) return path;
  int count = 0;
  CLocalMem arguments(::CommandLineToArgvW(commandLine.c_str(), &count));
  if (!arguments || count <= 1) return path;
  std::wstring dll = static_cast<wchar_t**>(arguments.Get())[1];
  const size_t comma = dll.find(L',');
  if (comma != std::wstring::npos) dll.erase(comma);
  return ResolveFilePath(dll);
}

std::wstring ResolveClsid(const CAutorunAnalyzer& analyzer, const std::wstring& clsid, std::wstring* filePath,
                          bool wow64) {
  std::wstring user = wow64 ? L"\\Wow6432Node\\CLSID\\" : L"\\CLSID\\";
  std::wstring machine = wow64 ? L"\\Classes\\Wow6432Node\\CLSID\\" : L"\\Classes\\CLSID\\";
  const std::wstring id = !clsid.empty() && clsid[0] == L'{' ? clsid : L"{" + clsid + L"}";
  user += id;
  machine += id;
  filePath->clear();

  std::wstring name;
  analyzer.Classes().ReadString(user, nullptr, &name);
  if (name.empty()) analyzer.Software().ReadString(machine, nullptr, &name);

  user += L"\\InprocServer32";
  machine += L"\\InprocServer32";
  std::wstring server;
  analyzer.Classes().ReadString(user, nullptr, &server);
  if (server.empty()) analyzer.Software().ReadString(machine, nullptr, &server);
  *filePath = ResolveFilePath(server);
  if (wow64) *filePath = ToSysWow64(*filePath);
  return name;
}

}  // namespace kal
