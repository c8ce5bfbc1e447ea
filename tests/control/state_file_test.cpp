// The state file: its line for example runs, its exact bytes, the 5-second rule and failures.
#include "control/state_file.h"

#include <gtest/gtest.h>

#include "support/hresult.h"
#include "test_support/temp_dir.h"

namespace kal {
namespace {

std::string Utf16Le(const std::wstring& text) {
  std::string bytes;
  for (wchar_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

TEST(StateFile, LineOfExampleRuns) {
  // Three files of 10, 20 and 30 bytes: "safe" (10), "unknown" (20), the third failed to hash.
  StateRecord finished;
  finished.Phase = kPhaseFinished;
  finished.FilesFound = 3;
  finished.BytesFound = 60;
  finished.FilesProcessed = 3;
  finished.BytesProcessed = 30;
  finished.CountSafe = 1;
  finished.CountUnknown = 1;
  finished.HashFailures = 1;
  EXPECT_EQ(L"7;3;60;3;30;1;0;0;1;1;0;0;0;", FormatStateLine(finished));

  StateRecord failed;
  failed.Phase = kPhaseFailed;
  failed.ErrorText = L"Error 0x80070005";
  EXPECT_EQ(L"8;0;0;0;0;0;0;0;0;0;0;0;0;Error 0x80070005", FormatStateLine(failed));

  // Field order differs from the record's; 32-bit counters print signed, 64-bit totals in full.
  StateRecord order;
  order.Phase = 5;
  order.FilesFound = 0xFFFFFFFFu;
  order.BytesFound = 0x7FFFFFFFFFFFFFFFull;
  order.FilesProcessed = 4;
  order.BytesProcessed = 5000000000ull;
  order.CountUnknown = 6;
  order.CountDoesntExist = 7;
  order.CountError = 8;
  order.HashFailures = 9;
  order.CountSafe = 10;
  order.CountMalware = 11;
  order.Skipped = 12;
  order.CountServerError = 13;
  EXPECT_EQ(L"5;-1;9223372036854775807;4;5000000000;6;7;8;9;10;11;12;13;", FormatStateLine(order));
}

TEST(StateFile, BytesAreUtf16LeWithOneNulAndNoMark) {
  test::CTempDir dir;
  StateRecord state;
  state.Phase = kPhaseFinished;
  state.StatePath = dir.Path() + L"\\s.txt";
  dir.WriteFile(L"s.txt", std::string(500, 'x'));  // an existing longer file is replaced
  CStateWriteClock clock([] { return int64_t(1000); });
  ASSERT_EQ(S_OK, WriteState(state, clock, true));
  EXPECT_EQ(Utf16Le(L"7;0;0;0;0;0;0;0;0;0;0;0;0;") + std::string(2, '\0'), test::CTempDir::ReadFile(state.StatePath));
}

TEST(StateFile, FiveSecondRule) {
  int64_t now = 1000;
  CStateWriteClock clock([&now] { return now; });
  struct Step {
    int64_t time;
    bool force;
    bool writes;
    const char* why;
  };
  const Step steps[] = {
      {1000, false, true, "first write of the process"},
      {1000, false, false, "same second"},
      {1004, false, false, "four seconds later"},
      {1004, true, true, "forced right after an unforced one"},
      {1008, false, false, "still within five seconds of the forced write"},
      {1009, false, true, "five seconds passed"},
      {900, false, true, "clock set back: a last write in the future counts as expired"},
      {901, false, false, "and the rule holds again from the new time"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.why);
    now = step.time;
    EXPECT_EQ(step.writes, clock.TakeTurn(step.force));
  }
}

TEST(StateFile, SkippedAndFailedWrites) {
  test::CTempDir dir;
  StateRecord state;
  int64_t now = 50;
  CStateWriteClock clock([&now] { return now; });

  state.StatePath = dir.Path() + L"\\missing\\s.txt";
  EXPECT_EQ(HResultFromWin32(ERROR_PATH_NOT_FOUND), WriteState(state, clock, false));
  // The failed write still counts as the last write.
  state.StatePath = dir.Path() + L"\\s.txt";
  EXPECT_EQ(S_FALSE, WriteState(state, clock, false));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(state.StatePath.c_str()));
  EXPECT_EQ(S_OK, WriteState(state, clock, true));
}

}  // namespace
}  // namespace kal
