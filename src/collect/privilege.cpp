// Token privilege adjustment.
#include "collect/privilege.h"

namespace kal {

bool EnablePrivilege(HANDLE token, const wchar_t* name, bool enable) {
  TOKEN_PRIVILEGES privileges = {};
  if (!::LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return false;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  if (!::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), nullptr, nullptr)) return false;
  // The call succeeds without adjusting anything when the token lacks the privilege.
  return ::GetLastError() != ERROR_NOT_ALL_ASSIGNED;
}

}  // namespace kal
