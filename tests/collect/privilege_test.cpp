// Enabling and disabling one privilege of a token, checked through the token's own privilege list.
#include "collect/privilege.h"

#include <gtest/gtest.h>

#include "support/handles.h"
#include "support/sized_query.h"

namespace kal {
namespace {

// The attributes of `name` in the token; -1 when the token does not hold it.
long PrivilegeAttributes(HANDLE token, const wchar_t* name) {
  LUID luid;
  std::vector<uint8_t> data;
  if (!::LookupPrivilegeValueW(nullptr, name, &luid) || FAILED(QueryTokenInformation(token, TokenPrivileges, &data)))
    return -1;
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(data.data());
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID& held = privileges->Privileges[i].Luid;
    if (held.LowPart == luid.LowPart && held.HighPart == luid.HighPart)
      return static_cast<long>(privileges->Privileges[i].Attributes);
  }
  return -1;
}

CToken OpenOwnToken(DWORD access) {
  CToken token;
  ::OpenProcessToken(::GetCurrentProcess(), access, token.Put());
  return token;
}

TEST(EnablePrivilege, SwitchesTheEnabledAttribute) {
  CToken token = OpenOwnToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  ASSERT_TRUE(token);
  if (PrivilegeAttributes(token.Get(), SE_DEBUG_NAME) < 0) GTEST_SKIP() << "the token does not hold the privilege";

  ASSERT_TRUE(EnablePrivilege(token.Get(), SE_DEBUG_NAME, true));
  EXPECT_EQ(SE_PRIVILEGE_ENABLED, PrivilegeAttributes(token.Get(), SE_DEBUG_NAME) & SE_PRIVILEGE_ENABLED);
  ASSERT_TRUE(EnablePrivilege(token.Get(), SE_DEBUG_NAME, false));
  EXPECT_EQ(0, PrivilegeAttributes(token.Get(), SE_DEBUG_NAME) & SE_PRIVILEGE_ENABLED);
  EXPECT_TRUE(EnablePrivilege(token.Get(), SE_DEBUG_NAME, true));
}

TEST(EnablePrivilege, Failures) {
  CToken adjustable = OpenOwnToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  CToken queryOnly = OpenOwnToken(TOKEN_QUERY);
  ASSERT_TRUE(adjustable);
  ASSERT_TRUE(queryOnly);
  EXPECT_FALSE(EnablePrivilege(adjustable.Get(), L"SeNoSuchPrivilege", true));
  EXPECT_FALSE(EnablePrivilege(queryOnly.Get(), SE_DEBUG_NAME, true));
  EXPECT_FALSE(EnablePrivilege(nullptr, SE_DEBUG_NAME, true));
}

}  // namespace
}  // namespace kal
