// The signing worker and GetFileSigner over the signed fixtures: which source answers, when the
// catalog source may be asked (a probe stands in for the catalogs Wine does not have), the
// sharing-violation retries, and stopping and restarting the worker.
#include "analysis/signing_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "signed_fixtures.h"

namespace kal::cryptography {
namespace {

using test::kFixtureSigner;
using test::SignedFixture;

constexpr wchar_t kCatalogName[] = L"Catalog Signer";

// Counts the catalog lookups the worker makes; each finds a catalog that verifies.
struct CatalogProbe {
  std::atomic<int> calls{0};
  CSigningWorker::Sources Sources(bool serviceRuns) {
    CSigningWorker::Sources sources;
    sources.serviceCheck = [serviceRuns] { return serviceRuns; };
    sources.catalogSigner = [this](const std::wstring&, uint32_t revocation, std::wstring* signer, bool* verified) {
      EXPECT_EQ(0u, revocation);
      calls += 1;
      *signer = kCatalogName;
      *verified = true;
      return true;
    };
    sources.retryMs = 20;
    return sources;
  }
};

bool WaitForCatalogs(const CSigningWorker& worker) {
  for (int i = 0; i < 500 && !worker.CatalogsAvailable(); ++i) ::Sleep(10);
  return worker.CatalogsAvailable();
}

// A file of `size` bytes of zeros (no PE image, no signature).
std::wstring SizedFile(const test::CTempDir& dir, const wchar_t* name, uint32_t size) {
  const std::wstring path = dir.WriteFile(name, "");
  CFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER end;
  end.QuadPart = size;
  ::SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN);
  ::SetEndOfFile(file.Get());
  return path;
}

class SigningWorker : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(test::TrustFixtureRoot()); }
  test::CTempDir dir_;
};

TEST_F(SigningWorker, SignerOfEachSource) {
  // An installer package is recognised by its name, whatever its content.
  const std::string msi = test::CTempDir::ReadFile(SignedFixture(L"signed.msi"));
  ASSERT_FALSE(msi.empty());
  const std::wstring setupMsi = dir_.WriteFile(L"SETUP.MSI", msi);
  const std::wstring setupMsp = dir_.WriteFile(L"patch.msp", msi);
  const std::wstring setupExe = dir_.WriteFile(L"SETUP.EXE", msi);
  struct Case {
    std::wstring path;
    const wchar_t* signer;
  };
  const Case cases[] = {
      {SignedFixture(L"signed.exe"), kFixtureSigner},
      {SignedFixture(L"tampered.exe"), L""},  // the message verifies, the trust verification does not
      {SignedFixture(L"unsigned.exe"), L""},
      {setupMsi, kFixtureSigner},
      {setupMsp, kFixtureSigner},
      {setupExe, L""},                        // the same package read as a PE file has no signer
      {SignedFixture(L"unsigned.msi"), L""},
      {dir_.Path() + L"\\missing.exe", L""},
  };
  CatalogProbe probe;
  CSigningWorker worker(probe.Sources(false));
  for (const Case& c : cases) EXPECT_EQ(std::wstring(c.signer), worker.GetFileSigner(c.path)) << c.path;
  EXPECT_EQ(0, probe.calls.load());  // before the service runs no catalog is asked
}

// A file without a certificate table, while no catalog may be asked, can have no signer: the
// worker is not even started for it. A signed file still goes to the worker.
TEST_F(SigningWorker, NoJobWhenNoSourceCanNameASigner) {
  CatalogProbe probe;
  CSigningWorker worker(probe.Sources(false));
  EXPECT_EQ(L"", worker.GetFileSigner(SignedFixture(L"unsigned.exe")));
  EXPECT_EQ(L"", worker.GetFileSigner(SizedFile(dir_, L"zeros.dll", 4096)));
  EXPECT_FALSE(worker.Running());
  EXPECT_EQ(kFixtureSigner, worker.GetFileSigner(SignedFixture(L"signed.exe")));
  EXPECT_TRUE(worker.Running());
}

TEST_F(SigningWorker, JobsAnswerSignerAndVerified) {
  CatalogProbe probe;
  CSigningWorker worker(probe.Sources(false));
  std::wstring signer;
  // The embedded signer is not verified by the signer job; the verify job decides.
  EXPECT_FALSE(worker.SubmitSignerJob(SignedFixture(L"signed.exe"), true, &signer));
  EXPECT_EQ(kFixtureSigner, signer);
  EXPECT_TRUE(worker.SubmitVerifyJob(SignedFixture(L"signed.exe")));
  EXPECT_FALSE(worker.SubmitVerifyJob(SignedFixture(L"tampered.exe")));
  // The installer's answer is verified already.
  const std::wstring setup = dir_.WriteFile(L"setup.msi", test::CTempDir::ReadFile(SignedFixture(L"signed.msi")));
  EXPECT_TRUE(worker.SubmitSignerJob(setup, true, &signer));
  EXPECT_EQ(kFixtureSigner, signer);
}

TEST_F(SigningWorker, CatalogSourceOnlyBelowTheSizeLimit) {
  struct Case {
    const wchar_t* name;
    uint32_t size;
    int calls;
    const wchar_t* signer;
  };
  const Case cases[] = {
      {L"small.dll", 4096, 1, kCatalogName},
      {L"under.dll", kCatalogSizeLimit - 1, 1, kCatalogName},
      {L"limit.dll", kCatalogSizeLimit, 0, L""},
      {L"fifty.dll", 50u << 20, 0, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CatalogProbe probe;
    CSigningWorker worker(probe.Sources(true));
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitForCatalogs(worker));
    EXPECT_EQ(std::wstring(c.signer), worker.GetFileSigner(SizedFile(dir_, c.name, c.size)));
    EXPECT_EQ(c.calls, probe.calls.load());
  }
  // An embedded signer is found first; the catalogs are not asked for it.
  CatalogProbe probe;
  CSigningWorker worker(probe.Sources(true));
  ASSERT_TRUE(worker.Start());
  ASSERT_TRUE(WaitForCatalogs(worker));
  EXPECT_EQ(kFixtureSigner, worker.GetFileSigner(SignedFixture(L"signed.exe")));
  EXPECT_EQ(0, probe.calls.load());
}

TEST_F(SigningWorker, WatcherGivesUpAfterItsLimit) {
  std::atomic<int> checks{0};
  CSigningWorker::Sources sources;
  sources.serviceCheck = [&checks] {
    checks += 1;
    return false;
  };
  sources.watchLimitMs = 200;
  sources.retryMs = 20;
  CSigningWorker worker(sources);
  ASSERT_TRUE(worker.Start());
  ::Sleep(800);
  const int settled = checks.load();
  EXPECT_GE(settled, 2);
  ::Sleep(300);
  EXPECT_EQ(settled, checks.load());  // the watcher has ended
  EXPECT_FALSE(worker.CatalogsAvailable());
}

TEST_F(SigningWorker, ExclusivelyHeldFileIsRetriedTwiceThenSizeZero) {
  const std::wstring path = SizedFile(dir_, L"held.dll", 50u << 20);
  CFileHandle held(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  const DWORD start = ::GetTickCount();
  EXPECT_EQ(0u, ProbeFileForSigning(path).size);
  const DWORD elapsed = ::GetTickCount() - start;
  EXPECT_GE(elapsed, 1900u);  // two waits of one second
  EXPECT_LT(elapsed, 2900u);  // and no third

  // Released during the waits: the retry reads the real size.
  std::thread release([&held] {
    ::Sleep(500);
    held.Reset();
  });
  EXPECT_EQ(50u << 20, ProbeFileForSigning(path, 300).size);
  release.join();

  // Size 0 still allows the catalog source, though the file is large.
  CFileHandle again(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  CatalogProbe probe;
  CSigningWorker worker(probe.Sources(true));
  ASSERT_TRUE(worker.Start());
  ASSERT_TRUE(WaitForCatalogs(worker));
  EXPECT_EQ(kCatalogName, worker.GetFileSigner(path));
  EXPECT_EQ(1, probe.calls.load());
}

TEST_F(SigningWorker, StopThenSubmitStartsAgain) {
  CatalogProbe probe;
  CSigningWorker worker(probe.Sources(false));
  ASSERT_TRUE(worker.Start());
  EXPECT_TRUE(worker.Running());
  worker.Stop();
  EXPECT_FALSE(worker.Running());
  EXPECT_EQ(kFixtureSigner, worker.GetFileSigner(SignedFixture(L"signed.exe")));
  EXPECT_TRUE(worker.Running());
  worker.Stop();
  worker.Stop();  // a second stop is harmless
  EXPECT_TRUE(worker.Start());
}

TEST(ProcessSigningWorker, AnswersThroughTheProcessWideWorker) {
  ASSERT_TRUE(test::TrustFixtureRoot());
  EXPECT_TRUE(StartSigningWorker());
  EXPECT_EQ(kFixtureSigner, GetFileSigner(SignedFixture(L"signed.exe")));
  StopSigningWorker();
  std::wstring signer;
  EXPECT_FALSE(SubmitSignerJob(SignedFixture(L"signed.exe"), false, &signer));  // restarts it
  EXPECT_EQ(kFixtureSigner, signer);
  EXPECT_TRUE(SubmitVerifyJob(SignedFixture(L"signed.exe")));
  StopSigningWorker();
}

}  // namespace
}  // namespace kal::cryptography
