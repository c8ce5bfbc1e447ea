// The autorun phase: profiles, hives, the interactive user's examination and the findings'
// registration.
#include "collect/autorun_frame.h"

#include <sddl.h>

#include "collect/interactive_user.h"
#include "collect/privilege.h"
#include "support/handles.h"
#include "support/hresult.h"
#include "support/impersonation.h"

namespace kal {
namespace {

constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr DWORD kProfileNameChars = 260;
constexpr DWORD kImagePathBytes = 520;
constexpr DWORD kProfileFolderChars = 296;
constexpr DWORD kUserNameChars = 271;

bool ReadProfileFolder(HKEY list, const wchar_t* name, std::wstring* folder) {
  CRegKey key;
  if (::RegOpenKeyExW(list, name, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return false;
  wchar_t image[kImagePathBytes / sizeof(wchar_t)];
  DWORD type = REG_NONE, size = kImagePathBytes;
  if (::RegQueryValueExW(key.Get(), L"ProfileImagePath", nullptr, &type, reinterpret_cast<BYTE*>(image), &size) !=
      ERROR_SUCCESS)
    return false;
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || size < 2 || size % 2 != 0 || image[size / 2 - 1] != 0) return false;
  wchar_t expanded[kProfileFolderChars];
  const DWORD n = ::ExpandEnvironmentStringsW(image, expanded, kProfileFolderChars);
  if (n == 0 || n > kProfileFolderChars) return false;
  *folder = expanded;
  return true;
}

// The account name of a SID on the local system; empty when it maps to none.
std::wstring AccountName(PSID sid) {
  DWORD nameChars = 64, domainChars = 64;
  std::wstring name(nameChars, L'\0'), domain(domainChars, L'\0');
  SID_NAME_USE use;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (::LookupAccountSidW(nullptr, sid, &name[0], &nameChars, &domain[0], &domainChars, &use)) {
      name.resize(nameChars);
      return name;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
    name.assign(nameChars, L'\0');
    domain.assign(domainChars, L'\0');
  }
  return std::wstring();
}

void EnableOwnPrivilege(const wchar_t* privilege) {
  CToken self;
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, self.Put()))
    EnablePrivilege(self.Get(), privilege, true);
}

}  // namespace

std::vector<UserProfile> ReadProfileList() {
  std::vector<UserProfile> profiles;
  CRegKey list;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ, list.Put()) != ERROR_SUCCESS) return profiles;
  wchar_t name[kProfileNameChars];
  for (DWORD index = 0;; ++index) {
    DWORD length = kProfileNameChars;
    if (::RegEnumKeyExW(list.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::wstring folder;
    if (!ReadProfileFolder(list.Get(), name, &folder)) continue;
    CLocalMem sid;
    PSID raw = nullptr;
    if (!::ConvertStringSidToSidW(name, &raw)) continue;
    sid.Reset(raw);
    if (!::IsValidSid(raw)) continue;
    profiles.push_back({name, AccountName(raw), folder + L"\\NTUSER.DAT"});
  }
  return profiles;
}

void LoadProfileHives(const std::vector<UserProfile>& profiles) {
  CRegKey users;
  if (::RegConnectRegistryW(nullptr, HKEY_USERS, users.Put()) != ERROR_SUCCESS) return;
  EnableOwnPrivilege(SE_RESTORE_NAME);
  for (const UserProfile& profile : profiles) ::RegLoadKeyW(users.Get(), profile.sid.c_str(), profile.hivePath.c_str());
}

std::wstring GetInteractiveUserName(bool impersonate) {
  CImpersonation impersonation;
  if (impersonate) {
    CToken token = GetInteractiveUserToken(kActiveConsoleSession);
    if (token) impersonation.Impersonate(token.Get());
  }
  wchar_t name[kUserNameChars];
  DWORD length = kUserNameChars;
  if (!::GetUserNameW(name, &length)) return std::wstring();
  return name;
}

void CAptAutorunEnumerator::OnAutorunFound(const AutorunRecord& record) {
  if (record.filePath.empty()) return;
  findings_.push_back({record.location, record.filePath, static_cast<uint32_t>(record.category)});
}

HRESULT EnumerateAutoruns(std::vector<AutorunFinding>* out, bool allUsers, const std::atomic<LONG>& stop) {
  CToken token = GetInteractiveUserToken(kActiveConsoleSession);
  std::wstring userName;
  {
    // Without a token this is the scanner's own account.
    CImpersonation impersonation;
    if (token) impersonation.Impersonate(token.Get());
    userName = GetInteractiveUserName(false);
  }

  const std::vector<UserProfile> profiles = ReadProfileList();
  if (profiles.empty()) return E_FAIL;
  LoadProfileHives(profiles);

  for (const UserProfile& profile : profiles) {
    if (!allUsers && profile.accountName != userName) continue;
    CImpersonation impersonation;
    if (profile.accountName == userName && token) impersonation.Impersonate(token.Get());
    CAptAutorunEnumerator analyzer;
    analyzer.Init(std::wstring(), profile.sid);
    for (uint32_t code = 0; code <= 16; ++code) {
      if (stop.load() != 0) return E_ABORT;
      analyzer.RunCategory(code);
    }
    impersonation.Revert();
    for (AutorunFinding& finding : analyzer.Findings()) out->push_back(std::move(finding));
  }
  return S_OK;
}

HRESULT RecordAutoruns(CRunContext& run, CScanItems& items, const std::vector<AutorunFinding>& findings) {
  for (const AutorunFinding& finding : findings) {
    RETURN_IF_FAILED(run.Checkpoint());
    uint32_t id = 0;
    RETURN_IF_FAILED(items.AddModule(finding.filePath, &id));
    items.AppendAutorun({id, finding.category, finding.location});
  }
  return S_OK;
}

HRESULT CollectAutoruns(CRunContext& run, CScanItems& items) {
  run.EnterPhase(kPhaseAutoruns);
  std::vector<AutorunFinding> findings;
  RETURN_IF_FAILED(EnumerateAutoruns(&findings, false, run.Config().StopRequested));
  return RecordAutoruns(run, items, findings);
}

}  // namespace kal
