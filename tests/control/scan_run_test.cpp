// The scan run: lookup batching, verdict settling, the skip rule, the stop event, and the pause
// and stop protocol driven from a second thread as the service handler drives it.
#include "control/scan_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "analysis/sha1_core.h"
#include "control/options.h"
#include "support/hresult.h"
#include "test_support/temp_dir.h"

namespace kal {
namespace {

// Answers of the lookup service, decided per call; records what was asked.
class FakeClient : public ILookupClient {
 public:
  struct Call {
    char kind;  // 'h' hashes, 'v' vendors
    uint32_t count;
  };
  std::vector<Call>* calls;
  int failHashes = 0;    // the next N hash calls fail
  int failVendors = 0;   // the next N vendor calls fail
  int32_t flsVerdict = 3;
  int32_t signerVerdict = 0;

  explicit FakeClient(std::vector<Call>* c) : calls(c) {}
  HRESULT Start(bool, bool, uint16_t, uint16_t) override { return S_OK; }
  HRESULT LookupHashes(uint32_t count, const LookupKey*, HashVerdict* answers, uint32_t tag, uint32_t mask,
                       uint32_t timeout) override {
    EXPECT_EQ(2u, tag);
    EXPECT_EQ(3u, mask);
    EXPECT_EQ(5000u, timeout);
    calls->push_back({'h', count});
    if (failHashes > 0 && failHashes--) return E_FAIL;
    for (uint32_t i = 0; i < count; ++i) answers[i] = {flsVerdict, -2, 7, 1644972474};
    return S_OK;
  }
  HRESULT LookupVendors(uint32_t count, const LookupKey*, VendorVerdict* answers, uint32_t, uint32_t,
                        uint32_t) override {
    calls->push_back({'v', count});
    if (failVendors > 0 && failVendors--) return E_FAIL;
    for (uint32_t i = 0; i < count; ++i) answers[i].SignerVerdict = signerVerdict;
    return S_OK;
  }
  bool GetStatistics(uint32_t, uint64_t*, uint64_t*) override { return false; }
  void Stop() override {}
};

// Examinations with chosen answers: a path containing "nohash" fails to hash; the signer and
// copyright come from tables keyed by path.
class FakeExaminer : public IFileExaminer {
 public:
  std::map<std::wstring, std::wstring> signers, copyrights;
  void BeginPhase() override {}
  void EndPhase() override {}
  bool ReadVersionStrings(const std::wstring& path, VersionStrings* out) override {
    const auto c = copyrights.find(path);
    if (c == copyrights.end()) return false;
    out->Copyright = c->second;
    return true;
  }
  std::wstring GetSigner(const std::wstring& path) override {
    const auto s = signers.find(path);
    return s == signers.end() ? std::wstring() : s->second;
  }
  HRESULT Hash(const std::wstring& path, uint8_t* sha1, bool* clr) override {
    if (path.find(L"nohash") != std::wstring::npos) return HResultFromWin32(ERROR_SHARING_VIOLATION);
    const auto digest = cryptography::Sha1Digest(path.data(), path.size() * sizeof(wchar_t));
    std::copy(digest.begin(), digest.end(), sha1);
    *clr = false;
    return S_OK;
  }
};

class ScanRunTest : public ::testing::Test {
 protected:
  ScanRunTest() : context_(config_, state_, clock_), items_(context_) {
    state_.StatePath = dir_.Path() + L"\\state.txt";
    config_.RunEvent.Reset(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  }

  ModuleItem& AddItem(const std::wstring& path, uint64_t size = 10) {
    ModuleItem item;
    item.Id = static_cast<uint32_t>(items_.Modules().size() + 1);
    item.Path = path;
    item.Size = size;
    return items_.Modules().emplace(ModuleKey(path), item).first->second;
  }

  std::unique_ptr<CScanRun> MakeRun(FakeClient** client) {
    auto run = std::make_unique<CScanRun>(
        context_, items_,
        [this, client] {
          auto c = std::make_unique<FakeClient>(&calls_);
          *client = c.get();
          configure_(*c);
          return std::unique_ptr<ILookupClient>(std::move(c));
        },
        &examiner_);
    return run;
  }

  std::string Sequence() const {
    std::string s;
    for (const FakeClient::Call& c : calls_) s += c.kind + std::to_string(c.count) + " ";
    return s;
  }

  test::CTempDir dir_;
  RunConfig config_;
  StateRecord state_;
  CStateWriteClock clock_{[] { return int64_t(1); }};
  CRunContext context_;
  CScanItems items_;
  FakeExaminer examiner_;
  std::vector<FakeClient::Call> calls_;
  std::function<void(FakeClient&)> configure_ = [](FakeClient&) {};
};

TEST_F(ScanRunTest, HashBatchesOf120) {
  struct Case {
    int files;
    const char* sequence;
  };
  const Case cases[] = {
      {119, "h119 "},              // no batch inside the loop, one after it
      {120, "h120 "},              // one full batch inside the loop, nothing left
      {240, "h120 h120 "},         // two inside the loop, none after it
      {241, "h120 h120 h1 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.files);
    items_.Modules().clear();
    calls_.clear();
    for (int i = 0; i < c.files; ++i) AddItem(L"C:\\f" + std::to_wstring(i) + L".exe");
    FakeClient* client = nullptr;
    EXPECT_EQ(S_OK, MakeRun(&client)->LookupPhase());
    EXPECT_EQ(c.sequence, Sequence());
  }
}

TEST_F(ScanRunTest, SignerBatchGoesFirstAndTheMapCachesAnswers) {
  // 240 files of one signer: the first batch asks for it 120 times (repeats inside a batch are all
  // sent), the second batch finds it in the map and asks nothing.
  for (int i = 0; i < 240; ++i) {
    const std::wstring path = L"C:\\s" + std::to_wstring(i) + L".exe";
    AddItem(path);
    examiner_.signers[path] = L"Signer One";
  }
  configure_ = [](FakeClient& c) {
    c.signerVerdict = 1;
    c.flsVerdict = 3;
  };
  FakeClient* client = nullptr;
  ASSERT_EQ(S_OK, MakeRun(&client)->LookupPhase());
  EXPECT_EQ("v120 h120 h120 ", Sequence());
  for (const auto& e : items_.Modules()) {
    EXPECT_EQ(1, e.second.CloudSigner);
    EXPECT_EQ(1, e.second.Cloud);  // a trusted signer turns "unknown" into "safe"
  }
  EXPECT_EQ(240u, state_.CountSafe);
}

TEST_F(ScanRunTest, VendorListsSeedTheCache) {
  // Trusted file (UTF-8): "Good", "Both". Removed file (UTF-16BE): "Both", "Gone". The download
  // says "Fetched". The service would call every signer 0 and every file "unknown".
  const std::wstring tvl = dir_.WriteFile(L"tvl.txt", "\xEF\xBB\xBFGood\r\nBoth\r\n");
  const std::wstring trl = dir_.WriteFile(L"trl.txt", std::string("\xFE\xFF\0B\0o\0t\0h\0\n\0G\0o\0n\0e", 20));
  struct Case {
    const char* name;
    std::vector<const wchar_t*> options;
    HRESULT download;
    // CloudSigner of the files signed by Good, Both, Gone, Fetched, good (case differs).
    int32_t good, both, gone, fetched, lower;
    bool downloaded;
    const char* sequence;
  };
  const Case cases[] = {
      {"tvl alone downloads", {L"--tvl", tvl.c_str()}, S_OK, 1, 2, 0, 2, 0, true, "v2 h5 "},
      {"trlNone after tvl", {L"--tvl", tvl.c_str(), L"--trlNone"}, S_OK, 1, 1, 0, 0, 0, false, "v3 h5 "},
      {"trlNone before tvl", {L"--trlNone", L"--tvl", tvl.c_str()}, S_OK, 1, 2, 0, 2, 0, true, "v2 h5 "},
      {"404 keeps the trusted list", {L"--tvl", tvl.c_str()}, HRESULT(0x80070002), 1, 1, 0, 0, 0, true, "v3 h5 "},
      {"removed file wins over trusted", {L"--tvl", tvl.c_str(), L"--trl", trl.c_str()}, S_OK, 1, 2, 2, 0, 0, false, "v2 h5 "},
      {"unreadable trusted file", {L"--tvl", L"C:\\no\\such.txt", L"--trlNone"}, S_OK, 0, 0, 0, 0, 0, false, "v5 h5 "},
      {"no lists", {}, S_OK, 0, 0, 0, 0, 0, false, "v5 h5 "},
  };
  const wchar_t* signers[] = {L"Good", L"Both", L"Gone", L"Fetched", L"good"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    items_.Modules().clear();
    calls_.clear();
    config_.TvlPath.clear();
    config_.TrlPath.clear();
    config_.TrlMode = TrlSource::None;
    std::vector<const wchar_t*> argv = {L"vantorag.exe"};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    StateRecord parsedState;
    ASSERT_EQ(S_FALSE, ParseOptions(static_cast<int>(argv.size()), const_cast<wchar_t* const*>(argv.data()), config_, parsedState));
    for (size_t i = 0; i < 5; ++i) {
      const std::wstring path = L"C:\\" + std::to_wstring(i) + L".exe";  // paths are keyed without case
      AddItem(path);
      examiner_.signers[path] = signers[i];
    }
    FakeClient* client = nullptr;
    auto run = MakeRun(&client);
    bool downloaded = false;
    run->SetRemovedListDownload([&](std::string* body) {
      downloaded = true;
      *body = "\xEF\xBB\xBF" "Fetched\r\nBoth";
      return c.download;
    });
    ASSERT_EQ(S_OK, run->LookupPhase());
    EXPECT_EQ(c.downloaded, downloaded);
    EXPECT_EQ(c.sequence, Sequence());  // cached signers are not asked
    const int32_t expected[] = {c.good, c.both, c.gone, c.fetched, c.lower};
    for (size_t i = 0; i < 5; ++i) {
      const ModuleItem& item = items_.Modules().at(ModuleKey(L"C:\\" + std::to_wstring(i) + L".exe"));
      EXPECT_EQ(expected[i], item.CloudSigner) << i;
      EXPECT_EQ(expected[i] == 1 ? 1 : 3, item.Cloud) << i;  // trusted turns "unknown" into "safe"
    }
  }
}

TEST_F(ScanRunTest, TrustedSignerNeverTurnsMalwareSafe) {
  config_.TvlPath = dir_.WriteFile(L"tvl.txt", "Good\n");
  AddItem(L"C:\\bad.exe");
  examiner_.signers[L"C:\\bad.exe"] = L"Good";
  configure_ = [](FakeClient& c) { c.flsVerdict = 2; };
  FakeClient* client = nullptr;
  ASSERT_EQ(S_OK, MakeRun(&client)->LookupPhase());
  EXPECT_EQ("h1 ", Sequence());
  const ModuleItem& item = items_.Modules().begin()->second;
  EXPECT_EQ(1, item.CloudSigner);
  EXPECT_EQ(2, item.Cloud);
}

TEST_F(ScanRunTest, BatchesThatFailTwice) {
  for (int i = 0; i < 3; ++i) {
    const std::wstring path = L"C:\\e" + std::to_wstring(i) + L".exe";
    AddItem(path, 100);
    examiner_.signers[path] = L"Signer";
  }
  configure_ = [](FakeClient& c) {
    c.failHashes = 2;
    c.failVendors = 2;
  };
  FakeClient* client = nullptr;
  ASSERT_EQ(S_OK, MakeRun(&client)->LookupPhase());
  EXPECT_EQ("v3 v3 h3 h3 ", Sequence());
  for (const auto& e : items_.Modules()) {
    EXPECT_EQ(3, e.second.CloudSigner);
    EXPECT_EQ(5, e.second.CloudFls);
    EXPECT_EQ(5, e.second.Cloud);
  }
  EXPECT_EQ(3u, state_.CountError);
  EXPECT_EQ(3u, state_.FilesProcessed);
  EXPECT_EQ(300u, state_.BytesProcessed);
}

TEST_F(ScanRunTest, OneFailedAttemptIsRetried) {
  AddItem(L"C:\\r.exe");
  configure_ = [](FakeClient& c) {
    c.failHashes = 1;
    c.flsVerdict = 2;
  };
  FakeClient* client = nullptr;
  ASSERT_EQ(S_OK, MakeRun(&client)->LookupPhase());
  EXPECT_EQ("h1 h1 ", Sequence());
  const ModuleItem& item = items_.Modules().begin()->second;
  EXPECT_EQ(2, item.CloudFls);
  EXPECT_EQ(-2, item.CloudLumen);
  EXPECT_EQ(1644972474, item.CloudDate);
  EXPECT_EQ(1u, state_.CountMalware);
}

TEST_F(ScanRunTest, SettleVerdictTable) {
  struct Case {
    int32_t fls, signer, cloud;
  };
  const Case cases[] = {
      {0, 1, 1}, {3, 1, 1}, {4, 1, 1}, {5, 1, 1},  // a trusted signer makes these safe
      {2, 1, 2},                                   // never malware
      {1, 0, 1}, {3, 0, 3}, {3, 2, 3}, {0, 3, 0}, {-1, 0, -1}, {9, 1, 1},
  };
  CScanRun run(context_, items_, nullptr, &examiner_);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "fls " << c.fls << " signer " << c.signer);
    ModuleItem item;
    item.CloudFls = c.fls;
    item.CloudSigner = c.signer;
    item.Size = 5;
    run.SettleVerdict(item);
    EXPECT_EQ(c.cloud, item.Cloud);
  }
  EXPECT_EQ(1u, state_.CountDoesntExist);
  EXPECT_EQ(6u, state_.CountSafe);
  EXPECT_EQ(1u, state_.CountMalware);
  EXPECT_EQ(2u, state_.CountUnknown);
  EXPECT_EQ(0u, state_.CountServerError);
  EXPECT_EQ(1u, state_.CountError);  // -1 and every other code count as error
  EXPECT_EQ(11u, state_.FilesProcessed);
  EXPECT_EQ(55u, state_.BytesProcessed);
}

TEST_F(ScanRunTest, SkipGacMatchesMicrosoftCorpCaseSensitively) {
  config_.SkipGac = true;
  struct Case {
    const wchar_t* path;
    bool gac;
    const wchar_t* copyright;
    bool skipped;
  };
  const Case cases[] = {
      {L"C:\\g1.dll", true, L"(c) Microsoft Corporation", true},
      {L"C:\\g2.dll", true, L"MICROSOFT CORP", false},
      {L"C:\\g3.dll", false, L"(c) Microsoft Corporation", false},
  };
  for (const Case& c : cases) {
    AddItem(c.path).Gac = c.gac;
    examiner_.copyrights[c.path] = c.copyright;
  }
  FakeClient* client = nullptr;
  ASSERT_EQ(S_OK, MakeRun(&client)->LookupPhase());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const ModuleItem& item = items_.Modules().at(ModuleKey(c.path));
    EXPECT_EQ(c.skipped, items_.IsSkipped(item.Id));
    EXPECT_EQ(c.copyright, item.Copyright);
  }
  EXPECT_EQ(1u, state_.Skipped);
  EXPECT_EQ(3u, state_.FilesProcessed);
  EXPECT_EQ("h2 ", Sequence());
}

TEST_F(ScanRunTest, HashFailuresAndTheFinalStateLine) {
  // Files of 10, 20 and 30 bytes: "safe", "unknown" and one that fails to hash.
  AddItem(L"C:\\safe.exe", 10);
  AddItem(L"C:\\unknown.exe", 20);
  AddItem(L"C:\\nohash.exe", 30);
  examiner_.signers[L"C:\\safe.exe"] = L"Trusted";
  CScanRun run(context_, items_,
               [this] {
                 auto c = std::make_unique<FakeClient>(&calls_);
                 c->signerVerdict = 1;
                 return std::unique_ptr<ILookupClient>(std::move(c));
               },
               &examiner_);
  run.PhaseFunctions().Report = [](CRunContext&, CScanItems&) { return S_OK; };
  state_.FilesFound = 3;
  state_.BytesFound = 60;
  // The signer answer applies to every file of the batch that has this signer only.
  ASSERT_EQ(S_OK, run.Run());
  EXPECT_EQ(L"7;3;60;3;30;1;0;0;1;1;0;0;0;", FormatStateLine(state_));
  const std::string bytes = test::CTempDir::ReadFile(state_.StatePath);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(std::string(2, '\0'), bytes.substr(bytes.size() - 2));
}

TEST_F(ScanRunTest, StopEventEndsTheLookupPhaseButTheReportIsWritten) {
  for (int i = 0; i < 5; ++i) AddItem(L"C:\\x" + std::to_wstring(i) + L".exe");
  CScanRun run(context_, items_, nullptr, &examiner_);
  bool reported = false;
  run.PhaseFunctions().Report = [&reported](CRunContext&, CScanItems&) {
    reported = true;
    return S_OK;
  };
  // Set before the run (manual reset): the lookup phase ends before its first file.
  CEvent stop(::CreateEventW(nullptr, TRUE, TRUE, kStopEventName));
  ASSERT_TRUE(stop);
  ::SetEvent(stop.Get());
  EXPECT_EQ(S_OK, run.Run());
  ::ResetEvent(stop.Get());
  EXPECT_TRUE(reported);
  EXPECT_EQ(kPhaseFinished, state_.Phase);
  EXPECT_EQ(0u, state_.FilesProcessed);
  for (const auto& e : items_.Modules()) {
    EXPECT_EQ(3, e.second.CloudFls);  // initial verdicts kept
    EXPECT_EQ(0, e.second.Cloud);
  }
}

TEST_F(ScanRunTest, UnavailableServiceMarksEveryFileError) {
  for (int i = 0; i < 4; ++i) AddItem(L"C:\\u" + std::to_wstring(i) + L".exe");
  // Both channels off: the real client can't start, so every batch fails at once.
  config_.FlsUdp = false;
  config_.FlsTcp = false;
  CScanRun run(context_, items_, nullptr, &examiner_);
  EXPECT_EQ(S_OK, run.LookupPhase());
  for (const auto& e : items_.Modules()) EXPECT_EQ(5, e.second.Cloud);
  EXPECT_EQ(4u, state_.CountError);
}

TEST_F(ScanRunTest, FailingCollectorEndsTheRunInPhase8) {
  config_.ScanProcesses = true;
  CScanRun run(context_, items_, nullptr, &examiner_);
  run.PhaseFunctions().Processes = [](CRunContext&, CScanItems&) { return HResultFromWin32(ERROR_ACCESS_DENIED); };
  EXPECT_EQ(static_cast<HRESULT>(0x80070005), run.Run());
  EXPECT_EQ(L"8;0;0;0;0;0;0;0;0;0;0;0;0;Error 0x80070005", FormatStateLine(state_));
}

// The service handler's side of pause, continue and stop, done from a second thread.
TEST_F(ScanRunTest, PauseContinueAndStopDuringTheWalk) {
  ASSERT_TRUE(ParseScope(config_, dir_.Path()));
  CEvent reached(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::atomic<int> phaseSeenPaused{-1}, phaseSeenAfter{-1};
  bool reported = false;

  CScanRun run(context_, items_, nullptr, &examiner_);
  run.PhaseFunctions().Scope = [&](CRunContext& ctx, CScanItems&) {
    ctx.EnterPhase(kPhaseFileScope);
    for (int i = 0; i < 200000; ++i) {
      const HRESULT hr = ctx.Checkpoint();
      if (FAILED(hr)) return hr;
      if (i == 10) ::SetEvent(reached.Get());
      ::Sleep(1);
    }
    return S_OK;
  };
  run.PhaseFunctions().Report = [&reported](CRunContext&, CScanItems&) {
    reported = true;
    return S_OK;
  };

  auto statePhase = [this] {
    const std::string bytes = test::CTempDir::ReadFile(state_.StatePath);
    if (bytes.size() < 4) return -1;
    return bytes[2] == ';' ? bytes[0] - '0' : (bytes[0] - '0') * 10 + (bytes[2] - '0');
  };
  auto waitForPhase = [&](int phase) {
    for (int i = 0; i < 1000 && statePhase() != phase; ++i) ::Sleep(10);
    return statePhase();
  };

  std::thread handler([&] {
    ::WaitForSingleObject(reached.Get(), 30000);
    ::ResetEvent(config_.RunEvent.Get());  // pause
    config_.PauseRequested.exchange(1);
    phaseSeenPaused = waitForPhase(kPhasePaused);
    config_.PauseRequested.exchange(0);  // continue
    ::SetEvent(config_.RunEvent.Get());
    phaseSeenAfter = waitForPhase(kPhaseFileScope);
    config_.StopRequested.exchange(1);  // stop
    ::SetEvent(config_.RunEvent.Get());
  });
  const HRESULT hr = run.Run();
  handler.join();

  EXPECT_EQ(S_OK, hr);
  EXPECT_EQ(kPhasePaused, phaseSeenPaused.load());
  EXPECT_EQ(kPhaseFileScope, phaseSeenAfter.load());
  EXPECT_EQ(kPhaseStopped, state_.Phase);
  EXPECT_EQ(kPhaseStopped, statePhase());
  EXPECT_FALSE(reported);
}

}  // namespace
}  // namespace kal
