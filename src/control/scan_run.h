// One scan run: preparation, the collectors in their fixed order, the lookup phase and the report,
// with the phase and final state of the run kept in the state file.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "collect/scan_items.h"
#include "control/file_examiner.h"
#include "control/lookup_client.h"
#include "control/run_context.h"
#include "control/vendor_trust_map.h"
#include "support/impersonation.h"

namespace kal {

class CScanRun {
 public:
  using ClientFactory = std::function<std::unique_ptr<ILookupClient>()>;

  // Batches: 120 hashes, tag 2, either channel, 5000 ms, 2 attempts.
  static constexpr size_t kHashBatchSize = 120;
  static constexpr uint32_t kRequestTag = 2;
  static constexpr uint32_t kChannelMask = 3;
  static constexpr uint32_t kTimeoutMs = 5000;
  static constexpr int kAttempts = 2;

  // Without a factory or examiner the run uses the network client and the real examinations.
  CScanRun(CRunContext& context, CScanItems& items, ClientFactory clients = nullptr,
           IFileExaminer* examiner = nullptr);

  // One complete scan; a stop ends it with S_OK and phase 9.
  HRESULT Run();
  HRESULT Scan();
  HRESULT LookupPhase();

  HRESULT LookupHashBatch(ILookupClient& client, const std::vector<LookupKey>& requests,
                          const std::vector<ModuleItem*>& items, int attempts);
  HRESULT LookupSignerBatch(ILookupClient& client, const std::vector<LookupKey>& requests,
                            const std::vector<ModuleItem*>& items, int attempts);
  // Cloud from CloudFls and CloudSigner, then the verdict and processed counters.
  void SettleVerdict(ModuleItem& item);

  // The collectors and the report writer, in the order Scan calls them; a test may replace one.
  struct Phases {
    std::function<HRESULT(CRunContext&, CScanItems&)> Processes, Drivers, Autoruns, Scope, Report;
  };
  Phases& PhaseFunctions() { return phases_; }
  // Where the removed-vendor list comes from in download mode; a test may replace it.
  void SetRemovedListDownload(RemovedListDownload download) { download_ = std::move(download); }

 private:
  void ImpersonateInteractiveUser();
  void RevertImpersonation();

  CRunContext& context_;
  CScanItems& items_;
  ClientFactory clients_;
  CFileExaminer ownExaminer_;
  IFileExaminer* examiner_;
  Phases phases_;
  RemovedListDownload download_;
  CImpersonation impersonation_;
};

}  // namespace kal
