// The autorun phase: the user profiles and their hives, the interactive user whose profile is
// examined, the seventeen categories run for that user, and each finding registered as a module.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "autoruns/autorun_analyzer.h"
#include "collect/scan_items.h"
#include "control/run_context.h"

namespace kal {

struct UserProfile {
  std::wstring sid;
  std::wstring accountName;  // empty when the SID maps to no local account
  std::wstring hivePath;     // the expanded profile folder + "\NTUSER.DAT"
};

struct AutorunFinding {
  std::wstring location;
  std::wstring filePath;
  uint32_t category = 0;
};

// The profiles of HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList, in registry
// order; a profile without a usable image path or SID is left out.
std::vector<UserProfile> ReadProfileList();

// RegLoadKeyW of every profile's hive under HKEY_USERS (SeRestorePrivilege enabled first);
// failures, such as a hive already loaded, are ignored. Nothing is unloaded later.
void LoadProfileHives(const std::vector<UserProfile>& profiles);

// The account the thread runs as (GetUserNameW), empty on failure; with `impersonate`, read while
// impersonating the interactive user.
std::wstring GetInteractiveUserName(bool impersonate);

// Keeps the findings that name a file.
class CAptAutorunEnumerator : public CAutorunAnalyzer {
 public:
  void OnAutorunFound(const AutorunRecord& record) override;
  std::vector<AutorunFinding>& Findings() { return findings_; }

 private:
  std::vector<AutorunFinding> findings_;
};

// The categories 0-16 of the profile whose account is the interactive user's (every profile
// with `allUsers`), impersonating that user around its examination. E_FAIL without any profile;
// E_ABORT when `stop` is set before a category.
HRESULT EnumerateAutoruns(std::vector<AutorunFinding>* out, bool allUsers, const std::atomic<LONG>& stop);

// Each finding through AddModule (id 0 when the filters turn the file away) into an
// AutorunItem; a pause is waited out and a stop ends it with E_ABORT before each one.
HRESULT RecordAutoruns(CRunContext& run, CScanItems& items, const std::vector<AutorunFinding>& findings);

// The autorun phase (3).
HRESULT CollectAutoruns(CRunContext& run, CScanItems& items);

}  // namespace kal
