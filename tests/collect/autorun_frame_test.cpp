// The autorun frame: which findings are kept, how they become autorun items, and the pause and
// stop tests between them; the profile list of the machine.
#include "collect/autorun_frame.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "control/scan_run.h"
#include "test_support/run_fixture.h"
#include "test_support/temp_dir.h"

namespace kal {
namespace {

using test::CTempDir;
using test::RunFixture;

TEST(AutorunFrame, FindingsWithoutAFileAreDropped) {
  CAptAutorunEnumerator analyzer;
  AutorunRecord record;
  record.category = 5;
  record.location = L"HKLM\\Where";
  record.filePath = L"C:\\x.sys";
  analyzer.Report(record);
  record.filePath.clear();
  analyzer.Report(record);
  ASSERT_EQ(1u, analyzer.Findings().size());
  EXPECT_EQ(L"HKLM\\Where", analyzer.Findings()[0].location);
  EXPECT_EQ(L"C:\\x.sys", analyzer.Findings()[0].filePath);
  EXPECT_EQ(5u, analyzer.Findings()[0].category);
}

TEST(AutorunFrame, ReportNamesNamelessEntries) {
  struct Keep : CAutorunAnalyzer {
    void OnAutorunFound(const AutorunRecord& r) override { name = r.entryName; }
    std::wstring name;
  } analyzer;
  AutorunRecord record;
  analyzer.Report(record);
  EXPECT_EQ(L"n/a", analyzer.name);
}

TEST(AutorunFrame, FindingsBecomeItemsAndFilteredFilesKeepIdZero) {
  CTempDir dir;
  const std::wstring pe = dir.WriteFile(L"a.exe", std::string("MZ") + std::string(100, '\0'));
  const std::wstring text = dir.WriteFile(L"b.txt", "not a program");
  RunFixture fixture({});
  fixture.config.RunEvent.Reset(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  const std::vector<AutorunFinding> findings = {
      {L"HKLM\\Run", pe, 0}, {L"HKLM\\Other", text, 7}, {L"HKCU\\Run", pe, 0}};
  ASSERT_EQ(S_OK, RecordAutoruns(fixture.run, fixture.items, findings));
  const std::vector<AutorunItem> items(fixture.items.Autoruns().begin(), fixture.items.Autoruns().end());
  ASSERT_EQ(3u, items.size());
  EXPECT_EQ(1u, items[0].ModuleRefId);
  EXPECT_EQ(L"HKLM\\Run", items[0].Where);
  EXPECT_EQ(0u, items[1].ModuleRefId);  // the PE filter turned it away
  EXPECT_EQ(7u, items[1].Scope);
  EXPECT_EQ(1u, items[2].ModuleRefId);  // the same file once
  EXPECT_EQ(1u, fixture.items.Modules().size());
}

TEST(AutorunFrame, StopBeforeAFindingEndsThePhase) {
  RunFixture fixture({});
  fixture.config.RunEvent.Reset(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  fixture.config.StopRequested = 1;
  EXPECT_EQ(E_ABORT, RecordAutoruns(fixture.run, fixture.items, {{L"HKLM\\Run", L"C:\\x.exe", 0}}));
  EXPECT_TRUE(fixture.items.Autoruns().empty());

  std::vector<AutorunFinding> out;
  EXPECT_EQ(E_ABORT, EnumerateAutoruns(&out, false, fixture.config.StopRequested));
  EXPECT_TRUE(out.empty());
}

TEST(AutorunFrame, ProfileListHoldsTheRunningAccount) {
  // The prefix's profile list has a profile for the account this test runs as.
  const std::wstring me = GetInteractiveUserName(false);
  ASSERT_FALSE(me.empty());
  const std::vector<UserProfile> profiles = ReadProfileList();
  const auto mine = std::find_if(profiles.begin(), profiles.end(), [&](const UserProfile& p) { return p.accountName == me; });
  ASSERT_NE(profiles.end(), mine);
  EXPECT_EQ(0u, mine->sid.rfind(L"S-1-5-", 0));
  EXPECT_GT(mine->hivePath.size(), 12u);
  EXPECT_EQ(L"\\NTUSER.DAT", mine->hivePath.substr(mine->hivePath.size() - 11));
  EXPECT_EQ(std::wstring::npos, mine->hivePath.find(L'%'));
}

// The scan's own autorun phase, stopped before its first category: the run ends stopped, with
// no report.
TEST(AutorunFrame, StopDuringThePhaseEndsTheRunStoppedWithoutAReport) {
  CTempDir dir;
  RunFixture fixture({});
  fixture.state.StatePath = dir.Path() + L"\\state.txt";
  fixture.config.ScanAutoruns = true;
  fixture.config.StopRequested = 1;
  bool reported = false;
  CScanRun run(fixture.run, fixture.items);
  run.PhaseFunctions().Report = [&reported](CRunContext&, CScanItems&) {
    reported = true;
    return S_OK;
  };
  EXPECT_EQ(S_OK, run.Run());
  EXPECT_EQ(kPhaseStopped, fixture.state.Phase);
  EXPECT_TRUE(fixture.items.Autoruns().empty());
  EXPECT_FALSE(reported);
}

}  // namespace
}  // namespace kal
