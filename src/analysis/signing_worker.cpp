// The signing worker thread, its job queue and the cryptographic-service watcher.
#include "analysis/signing_worker.h"

#include "analysis/cert_context_wrapper.h"
#include "analysis/embedded_signature.h"
#include "analysis/installer_signature.h"
#include "analysis/service_watcher.h"
#include "collect/mask_match.h"
#include "support/crash_dump.h"

namespace kal::cryptography {
namespace {

bool IsInstallerPackage(const std::wstring& path) {
  return MatchMask(L"*.msi", path) || MatchMask(L"*.msp", path);
}

bool CatalogSigner(const std::wstring& path, uint32_t endCertRevocation, std::wstring* signer, bool* verified) {
  CCatalogCertContextWrapper wrapper(endCertRevocation);
  if (!wrapper.Verify(path, kCertDisplayName)) return false;
  *signer = wrapper.DisplayName();
  *verified = wrapper.Verified();
  return true;
}

}  // namespace

CSigningWorker::Sources CSigningWorker::PlatformSources() {
  Sources sources;
  sources.serviceCheck = [] { return EnsureServiceRunning(kCryptServiceName); };
  sources.catalogSigner = CatalogSigner;
  return sources;
}

CSigningWorker::CSigningWorker(Sources sources) : sources_(std::move(sources)) {
  watcherStop_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

CSigningWorker::~CSigningWorker() {
  Stop();
  StopWatcher();
}

void CSigningWorker::StopWatcher() {
  if (watcherStop_) ::SetEvent(watcherStop_.Get());
  if (watcher_) ::WaitForSingleObject(watcher_.Get(), INFINITE);
}

bool CSigningWorker::Start() {
  std::lock_guard<std::mutex> lock(startLock_);
  if (started_) return true;
  workEvent_.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!workEvent_) return false;
  // The watcher runs once per worker object: the service, once running, is not asked again.
  if (!watcher_) {
    watcher_.Reset(::CreateThread(nullptr, 0, WatcherMain, this, 0, nullptr));
    if (!watcher_) return false;
  }
  running_.store(1);
  worker_.Reset(::CreateThread(nullptr, 0, WorkerMain, this, 0, nullptr));
  if (!worker_) {
    running_.store(0);
    ::SetEvent(workEvent_.Get());
    return false;
  }
  started_ = true;
  return true;
}

void CSigningWorker::Stop() {
  running_.store(0);
  CThreadHandle worker;
  {
    std::lock_guard<std::mutex> lock(startLock_);
    if (workEvent_) ::SetEvent(workEvent_.Get());
    worker = std::move(worker_);
  }
  if (worker) ::WaitForSingleObject(worker.Get(), INFINITE);
}

DWORD WINAPI CSigningWorker::WorkerMain(void* self) {
  InstallCrashHandlers();
  static_cast<CSigningWorker*>(self)->WorkerLoop();
  return 0;
}

void CSigningWorker::WorkerLoop() {
  for (;;) {
    ::WaitForSingleObject(workEvent_.Get(), INFINITE);
    if (!running_.load()) break;
    std::unique_lock<std::mutex> lock(queueLock_);
    while (!queue_.empty()) {
      SigningJob* job = queue_.front();
      queue_.pop_front();
      lock.unlock();
      // No job is pending when the worker is stopped: the thread that stops it is the one that
      // submits, and it waits for each answer.
      if (!running_.load()) return Leave();
      Process(*job);
      ::SetEvent(job->doneEvent.Get());
      lock.lock();
    }
  }
  Leave();
}

void CSigningWorker::Leave() {
  std::lock_guard<std::mutex> lock(startLock_);
  workEvent_.Reset();
  started_ = false;
}

void CSigningWorker::Process(SigningJob& job) {
  if (job.mode == kJobVerify) {
    job.verified = VerifyEmbeddedTrust(job.path) == 0;
    return;
  }
  if (IsInstallerPackage(job.path)) {
    job.signer = ReadInstallerSigner(job.path);
    job.verified = !job.signer.empty();
  } else {
    job.signer = ReadEmbeddedSignerName(job.path);
  }
  if (job.signer.empty() && job.useCatalog && CatalogsAvailable() && sources_.catalogSigner) {
    std::wstring signer;
    bool verified = false;
    if (sources_.catalogSigner(job.path, job.endCertRevocation, &signer, &verified)) {
      job.signer = signer;
      job.verified = verified;
    }
  }
}

DWORD WINAPI CSigningWorker::WatcherMain(void* self) {
  static_cast<CSigningWorker*>(self)->WatcherLoop();
  return 0;
}

void CSigningWorker::WatcherLoop() {
  const DWORD start = ::GetTickCount();
  for (;;) {
    if (sources_.serviceCheck && sources_.serviceCheck()) {
      catalogsAvailable_.store(1);
      return;
    }
    if (::GetTickCount() - start >= sources_.watchLimitMs) return;  // catalogs stay unavailable
    if (::WaitForSingleObject(watcherStop_.Get(), sources_.retryMs) == WAIT_OBJECT_0) return;
  }
}

bool CSigningWorker::Submit(SigningJob& job) {
  if (!Running() && !Start()) return false;
  job.doneEvent.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!job.doneEvent) return false;
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    queue_.push_back(&job);
  }
  {
    std::lock_guard<std::mutex> lock(startLock_);
    if (workEvent_) ::SetEvent(workEvent_.Get());
  }
  ::WaitForSingleObject(job.doneEvent.Get(), INFINITE);
  return true;
}

bool CSigningWorker::SubmitSignerJob(const std::wstring& path, bool useCatalog, std::wstring* signer) {
  SigningJob job;
  job.path = path;
  job.useCatalog = useCatalog;
  job.mode = kJobFindSigner;
  if (!Submit(job)) {
    signer->clear();
    return false;
  }
  *signer = std::move(job.signer);
  return job.verified;
}

bool CSigningWorker::SubmitVerifyJob(const std::wstring& path) {
  SigningJob job;
  job.path = path;
  job.mode = kJobVerify;
  return Submit(job) && job.verified;
}

std::wstring CSigningWorker::GetFileSigner(const std::wstring& path) {
  const SigningProbe probe = ProbeFileForSigning(path);
  const bool useCatalog = probe.size < kCatalogSizeLimit;
  // A file without a certificate table has no embedded signer; when no catalog may name one
  // either, the worker's answer is known to be empty, and asking costs two thread switches.
  if (probe.opened && !probe.certificateTable && !(useCatalog && CatalogsAvailable()) && !IsInstallerPackage(path))
    return std::wstring();
  std::wstring signer;
  const bool verified = SubmitSignerJob(path, useCatalog, &signer);
  if (!signer.empty() && !verified && !SubmitVerifyJob(path)) signer.clear();
  return signer;
}

SigningProbe ProbeFileForSigning(const std::wstring& path, DWORD retryMs) {
  SigningProbe probe;
  for (int attempt = 0;; ++attempt) {
    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
    if (file) {
      CFileByteSource source(file.Get());
      probe.opened = true;
      probe.size = static_cast<uint32_t>(source.Size());
      probe.certificateTable = FindCertificateEntries(source).count != 0;
      return probe;
    }
    if (::GetLastError() != ERROR_SHARING_VIOLATION || attempt == 2) return probe;
    ::Sleep(retryMs);
  }
}

namespace {
CSigningWorker& ProcessWorker() {
  // Never destroyed: its threads may outlive every static object of the process.
  static CSigningWorker* worker = new CSigningWorker();
  return *worker;
}
}  // namespace

bool StartSigningWorker() { return ProcessWorker().Start(); }
void StopSigningWorker() { ProcessWorker().Stop(); }
bool SubmitSignerJob(const std::wstring& path, bool useCatalog, std::wstring* signer) {
  return ProcessWorker().SubmitSignerJob(path, useCatalog, signer);
}
bool SubmitVerifyJob(const std::wstring& path) { return ProcessWorker().SubmitVerifyJob(path); }
std::wstring GetFileSigner(const std::wstring& path) { return ProcessWorker().GetFileSigner(path); }

}  // namespace kal::cryptography
