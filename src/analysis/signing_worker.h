// The signing worker: one thread that makes every platform trust, catalog and installer call, fed
// one job at a time from a queue, and beside it the watcher that waits for the cryptographic
// service before catalog lookups are allowed. GetFileSigner is what the lookup phase asks.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "support/handles.h"

namespace kal::cryptography {

// Files this large or larger are never hashed for a catalog lookup (their size as a 32-bit value).
constexpr uint32_t kCatalogSizeLimit = 0x2800000;  // 40 MiB

enum : uint32_t { kJobVerify = 0, kJobFindSigner = 1 };

struct SigningJob {
  std::wstring path;
  std::wstring signer;      // out: the signer's display name, or empty
  CEvent doneEvent;         // auto-reset; signalled by the worker when the job is finished
  bool useCatalog = false;
  bool verified = false;    // out
  uint32_t mode = kJobFindSigner;
  uint32_t endCertRevocation = 0;  // revocation checking stays off
};

class CSigningWorker {
 public:
  // The sources the worker asks; the platform's unless a test names its own.
  struct Sources {
    // One attempt to get the cryptographic service running.
    std::function<bool()> serviceCheck;
    // The catalog signer of a file: true when a catalog was found (signer and verified set).
    std::function<bool(const std::wstring& path, uint32_t endCertRevocation, std::wstring* signer, bool* verified)>
        catalogSigner;
    DWORD watchLimitMs = 1200000;  // 20 minutes
    DWORD retryMs = 2000;
  };
  static Sources PlatformSources();

  explicit CSigningWorker(Sources sources = PlatformSources());
  CSigningWorker(const CSigningWorker&) = delete;
  CSigningWorker& operator=(const CSigningWorker&) = delete;
  // Stops the worker and the watcher and waits for both.
  ~CSigningWorker();

  // Starts the worker (and, the first time, the watcher); true when the worker runs.
  bool Start();
  // Clears the running flag, wakes the worker and waits for it to end after its current job, so
  // that a later Start finds it stopped and starts it anew.
  void Stop();
  bool Running() const { return running_.load() != 0; }
  bool CatalogsAvailable() const { return catalogsAvailable_.load() != 0; }

  // Each waits without time limit for its job; an empty or false answer at once when the worker
  // can't be started.
  bool SubmitSignerJob(const std::wstring& path, bool useCatalog, std::wstring* signer);
  bool SubmitVerifyJob(const std::wstring& path);

  // The verified signer of a file, or empty. A file that opens, has no certificate table and may
  // not be looked up in catalogs (none available, or too large) is answered without a job.
  std::wstring GetFileSigner(const std::wstring& path);

  // Ends the watcher without waiting for the service (tests; the destructor does it too).
  void StopWatcher();

 private:
  static DWORD WINAPI WorkerMain(void* self);
  static DWORD WINAPI WatcherMain(void* self);
  void WorkerLoop();
  void WatcherLoop();
  void Leave();  // the worker's last step: its event closed, the started flag cleared
  void Process(SigningJob& job);
  bool Submit(SigningJob& job);

  Sources sources_;
  std::mutex queueLock_;
  std::deque<SigningJob*> queue_;
  std::mutex startLock_;
  CEvent workEvent_;      // auto-reset: once per job and once for a stop
  CThreadHandle worker_;
  CThreadHandle watcher_;
  CEvent watcherStop_;
  std::atomic<uint32_t> running_{0};
  std::atomic<uint32_t> catalogsAvailable_{0};
  bool started_ = false;  // under startLock_
};

// The process-wide worker of the scan.
bool StartSigningWorker();
void StopSigningWorker();
bool SubmitSignerJob(const std::wstring& path, bool useCatalog, std::wstring* signer);
bool SubmitVerifyJob(const std::wstring& path);
std::wstring GetFileSigner(const std::wstring& path);

// What GetFileSigner learns from one read-only open with full sharing before it asks the worker.
// A sharing violation is retried twice, `retryMs` apart; any other failure or a third sharing
// violation leaves the file unopened with size 0.
struct SigningProbe {
  bool opened = false;
  uint32_t size = 0;              // the low 32 bits of the size; decides the catalog source
  bool certificateTable = false;  // the file has a certificate table entry to read a signer from
};
SigningProbe ProbeFileForSigning(const std::wstring& path, DWORD retryMs = 1000);

}  // namespace kal::cryptography
