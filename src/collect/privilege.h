// Switching one privilege of a token on or off (the collectors enable SeDebugPrivilege so that
// they can open other users' processes).
#pragma once

#include "support/win.h"

namespace kal {

// Looks `name` up on the local system and adjusts `token` (opened with TOKEN_ADJUST_PRIVILEGES)
// for that one privilege: enabled when `enable`, no attribute otherwise. False when the name is
// unknown, the token can't be adjusted, or the token does not hold the privilege.
bool EnablePrivilege(HANDLE token, const wchar_t* name, bool enable);

}  // namespace kal
