// The probe-size-then-retry loop against scripted answers, and the token query it serves.
#include "support/sized_query.h"

#include <gtest/gtest.h>

#include "support/handles.h"

namespace kal {
namespace {

// One scripted answer of the queried function: the size it names and the error it sets when the
// buffer is smaller than `needs` (or always, for `fails`).
struct Answer {
  DWORD needs;
  DWORD error;
};

TEST(QueryVariableSize, Table) {
  const struct {
    const char* name;
    std::vector<Answer> answers;  // one per call; the last repeats
    HRESULT expectedResult;
    size_t expectedSize;
    int expectedCalls;
  } cases[] = {
      // Normal
      {"probe then read", {{100, ERROR_INSUFFICIENT_BUFFER}}, S_OK, 100, 2},
      {"more-data style", {{40, ERROR_MORE_DATA}}, S_OK, 40, 2},
      {"grows between the calls", {{100, ERROR_INSUFFICIENT_BUFFER}, {300, ERROR_INSUFFICIENT_BUFFER}}, S_OK, 300, 3},
      {"no size named: grows anyway", {{0, ERROR_INSUFFICIENT_BUFFER}, {50, ERROR_INSUFFICIENT_BUFFER}}, S_OK, 50, 2},
      // Failure
      {"another error", {{0, ERROR_ACCESS_DENIED}}, HResultFromWin32(ERROR_ACCESS_DENIED), 0, 1},
      {"never settles", {{100, ERROR_INSUFFICIENT_BUFFER}, {200, ERROR_INSUFFICIENT_BUFFER},
                         {300, ERROR_INSUFFICIENT_BUFFER}, {400, ERROR_INSUFFICIENT_BUFFER},
                         {500, ERROR_INSUFFICIENT_BUFFER}},
       HResultFromWin32(ERROR_INSUFFICIENT_BUFFER), 0, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> data(7, 0xbd);  // stale content must not survive
    int calls = 0;
    const HRESULT hr = QueryVariableSize(&data, [&](void* buffer, DWORD size, DWORD* needed) -> BOOL {
      const Answer& answer = c.answers[std::min<size_t>(calls, c.answers.size() - 1)];
      ++calls;
      if (answer.error == ERROR_ACCESS_DENIED || size < answer.needs || answer.needs == 0) {
        *needed = answer.needs;
        ::SetLastError(answer.error);
        return FALSE;
      }
      std::fill_n(static_cast<uint8_t*>(buffer), answer.needs, 0x5a);
      *needed = answer.needs;
      return TRUE;
    });
    EXPECT_EQ(c.expectedResult, hr);
    EXPECT_EQ(c.expectedSize, data.size());
    EXPECT_EQ(c.expectedCalls, calls);
    for (uint8_t byte : data) EXPECT_EQ(0x5a, byte);
  }
}

TEST(QueryTokenInformation, UserOfTheOwnToken) {
  CToken token;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()));
  std::vector<uint8_t> data;
  ASSERT_EQ(S_OK, QueryTokenInformation(token.Get(), TokenUser, &data));
  ASSERT_GE(data.size(), sizeof(TOKEN_USER));
  EXPECT_TRUE(::IsValidSid(reinterpret_cast<const TOKEN_USER*>(data.data())->User.Sid));

  CToken noQuery;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, noQuery.Put()));
  EXPECT_EQ(HResultFromWin32(ERROR_ACCESS_DENIED), QueryTokenInformation(noQuery.Get(), TokenUser, &data));
  EXPECT_TRUE(data.empty());
}

}  // namespace
}  // namespace kal
