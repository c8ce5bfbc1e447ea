// The scan run: phases in their fixed order, the lookup phase's batches and the final state.
#include "control/scan_run.h"

#include <cwchar>

#include "collect/autorun_frame.h"
#include "collect/driver_collector.h"
#include "collect/interactive_user.h"
#include "collect/process_collector.h"
#include "collect/scope_walker.h"
#include "control/log_event.h"
#include "control/network_lookup_client.h"
#include "control/options.h"
#include "control/statistics_file.h"
#include "lookup/http_client.h"
#include "lookup/vendor_key.h"
#include "report/report_writer.h"
#include "support/hresult.h"
#include "support/socket.h"

namespace kal {
namespace {

// "%windir%\..." expanded, or empty when the folder does not exist.
std::wstring ExistingExpandedFolder(const wchar_t* text) {
  wchar_t expanded[MAX_PATH] = {};
  if (::ExpandEnvironmentStringsW(text, expanded, MAX_PATH) == 0) return std::wstring();
  expanded[MAX_PATH - 1] = 0;
  return ::GetFileAttributesW(expanded) == INVALID_FILE_ATTRIBUTES ? std::wstring() : std::wstring(expanded);
}

bool IsSet(const CEvent& event) { return event && ::WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0; }

}  // namespace

CScanRun::CScanRun(CRunContext& context, CScanItems& items, ClientFactory clients, IFileExaminer* examiner)
    : context_(context), items_(items), clients_(std::move(clients)), examiner_(examiner ? examiner : &ownExaminer_) {
  if (!clients_) clients_ = [] { return std::unique_ptr<ILookupClient>(new CNetworkLookupClient()); };
  phases_.Processes = CollectProcesses;
  phases_.Drivers = CollectDrivers;
  phases_.Autoruns = CollectAutoruns;
  phases_.Scope = CollectScope;
  phases_.Report = [](CRunContext& run, CScanItems& items) { return WriteReport(run, items); };
  download_ = [](std::string* body) { return DownloadRemovedVendorList(VANTORAG_VENDOR_LIST_HOST, body); };
}

HRESULT CScanRun::Run() {
  RunConfig& config = context_.Config();
  // Not having the event is no error: the run then never sees a stop request.
  config.StopEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, kStopEventName));
  // Before the service shows itself running: a pause that arrives next must find the event to clear.
  context_.CreateRunEvent();  // a failure is Scan's to report
  context_.ReportServiceRunning();

  HRESULT hr = Scan();
  StateRecord& state = context_.State();
  if (SUCCEEDED(hr)) {
    state.Phase = kPhaseFinished;
  } else if (hr != E_ABORT) {
    wchar_t text[32];
    std::swprintf(text, 32, L"Error 0x%8.8x", static_cast<unsigned>(hr));
    state.Phase = kPhaseFailed;
    state.ErrorText = text;
  } else {
    hr = S_OK;
    state.Phase = kPhaseStopped;
  }
  context_.RefreshState(true);
  return hr;
}

HRESULT CScanRun::Scan() {
  RunConfig& config = context_.Config();
  config.GacFolder = ExistingExpandedFolder(L"%windir%\\assembly");
  config.NetGacFolder = ExistingExpandedFolder(L"%windir%\\Microsoft.NET\\assembly");
  if (!config.FilterText.empty() && config.FilterMasks.empty()) ParseFilter(config, config.FilterText);
  RETURN_IF_FAILED(context_.CreateRunEvent());

  if (config.ScanProcesses) RETURN_IF_FAILED(phases_.Processes(context_, items_));
  if (config.ScanDrivers) RETURN_IF_FAILED(phases_.Drivers(context_, items_));
  if (config.ScanAutoruns) RETURN_IF_FAILED(phases_.Autoruns(context_, items_));

  if (config.Impersonate) ImpersonateInteractiveUser();
  if (!config.ScopeEntries.empty()) {
    const HRESULT hr = phases_.Scope(context_, items_);
    if (FAILED(hr)) {
      RevertImpersonation();
      return hr;
    }
  }
  LookupPhase();  // the report follows whatever the lookup phase returned
  RevertImpersonation();
  return phases_.Report(context_, items_);
}

void CScanRun::ImpersonateInteractiveUser() {
  if (impersonation_.Active()) return;
  CToken token = GetInteractiveUserToken(-1);
  if (token) impersonation_.Impersonate(token.Get());  // failing to impersonate is not an error
}

void CScanRun::RevertImpersonation() { impersonation_.Revert(); }

HRESULT CScanRun::LookupPhase() {
  RunConfig& config = context_.Config();
  StateRecord& state = context_.State();
  context_.EnterPhase(kPhaseLookup);

  VendorTrustMap trust;
  SeedVendorTrustMap(config, download_, &trust);

  examiner_->BeginPhase();
  const CWinsockSession winsock(MAKEWORD(2, 0));  // a failed start shows as failed batches
  std::unique_ptr<ILookupClient> client = clients_();
  CSafetyLookupClientBase::SetProductCode(101);
  const HRESULT started = client->Start(config.FlsUdp, config.FlsTcp, config.FlsUdpPort, config.FlsTcpPort);
  if (FAILED(started))
    LogEvent(started == static_cast<HRESULT>(0x8007139f) ? L"Fls servers resolve failed (tcp and udp)"
                                                         : L"Fls servers resolve failed");

  std::vector<LookupKey> hashRequests, signerRequests;
  std::vector<ModuleItem*> hashItems, signerItems;
  HRESULT result = S_OK;
  for (auto& entry : items_.Modules()) {
    ModuleItem& item = entry.second;
    result = context_.Checkpoint();
    if (FAILED(result)) break;
    if (IsSet(config.StopEvent)) break;  // the remaining files keep their initial verdicts

    VersionStrings strings;
    if (examiner_->ReadVersionStrings(item.Path, &strings)) {
      item.Description = std::move(strings.Description);
      item.Product = std::move(strings.Product);
      item.Version = std::move(strings.Version);
      item.Copyright = std::move(strings.Copyright);
    }
    if (config.SkipGac && item.Gac && item.Copyright.find(L"Microsoft Corp") != std::wstring::npos) {
      items_.Skip(item.Id);
      state.Skipped += 1;
      state.FilesProcessed += 1;
      context_.RefreshState(false);
      continue;
    }

    item.Signer = examiner_->GetSigner(item.Path);
    const HRESULT hashed = examiner_->Hash(item.Path, item.Sha1.data(), &item.Clr);
    if (FAILED(hashed)) {
      state.HashFailures += 1;
      if (context_.RecordsErrors())
        LogEvent(L"Hash calculating for file %ls  failed: 0x%08x", item.Path.c_str(), static_cast<unsigned>(hashed));
      state.FilesProcessed += 1;
      context_.RefreshState(false);
      continue;
    }

    LookupKey key;
    std::copy(item.Sha1.begin(), item.Sha1.end(), key.Key);
    hashRequests.push_back(key);
    hashItems.push_back(&item);

    if (!item.Signer.empty()) {
      const auto known = trust.find(item.Signer);
      LookupKey signerKey;
      if (known != trust.end()) {
        item.CloudSigner = known->second;
      } else if (SUCCEEDED(MakeVendorKey(item.Signer, &signerKey))) {
        signerRequests.push_back(signerKey);
        signerItems.push_back(&item);
      }
    }

    if (hashRequests.size() == kHashBatchSize) {
      if (!signerRequests.empty()) {
        if (SUCCEEDED(LookupSignerBatch(*client, signerRequests, signerItems, kAttempts)))
          for (ModuleItem* signed_ : signerItems)
            if (signed_->CloudSigner != 3) trust[signed_->Signer] = signed_->CloudSigner;
        signerRequests.clear();
        signerItems.clear();
      }
      LookupHashBatch(*client, hashRequests, hashItems, kAttempts);
      hashRequests.clear();
      hashItems.clear();
      context_.RefreshState(false);
    }
  }

  if (SUCCEEDED(result)) {
    if (!signerRequests.empty()) LookupSignerBatch(*client, signerRequests, signerItems, kAttempts);
    if (!hashRequests.empty()) LookupHashBatch(*client, hashRequests, hashItems, kAttempts);
    context_.RefreshState(false);
  }
  if (!config.FlsStatPath.empty()) WriteStatistics(config.FlsStatPath, *client);
  client->Stop();
  examiner_->EndPhase();
  return result;
}

HRESULT CScanRun::LookupHashBatch(ILookupClient& client, const std::vector<LookupKey>& requests,
                                  const std::vector<ModuleItem*>& items, int attempts) {
  if (requests.size() != items.size() || requests.empty()) return E_UNEXPECTED;
  std::vector<HashVerdict> answers(requests.size());
  HRESULT hr = E_FAIL;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    hr = client.LookupHashes(static_cast<uint32_t>(requests.size()), requests.data(), answers.data(), kRequestTag,
                             kChannelMask, kTimeoutMs);
    if (SUCCEEDED(hr)) break;
  }
  for (size_t i = 0; i < items.size(); ++i) {
    ModuleItem& item = *items[i];
    if (SUCCEEDED(hr)) {
      item.CloudFls = answers[i].FlsVerdict;
      item.CloudLumen = answers[i].LumenVerdict;
      item.CloudDate = static_cast<int64_t>(answers[i].Date);
    } else {
      item.CloudFls = 5;
    }
    SettleVerdict(item);
  }
  return hr;
}

HRESULT CScanRun::LookupSignerBatch(ILookupClient& client, const std::vector<LookupKey>& requests,
                                    const std::vector<ModuleItem*>& items, int attempts) {
  if (requests.size() != items.size() || requests.empty()) return E_UNEXPECTED;
  std::vector<VendorVerdict> answers(requests.size());
  HRESULT hr = E_FAIL;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    hr = client.LookupVendors(static_cast<uint32_t>(requests.size()), requests.data(), answers.data(), kRequestTag,
                              kChannelMask, kTimeoutMs);
    if (SUCCEEDED(hr)) break;
  }
  for (size_t i = 0; i < items.size(); ++i) items[i]->CloudSigner = SUCCEEDED(hr) ? answers[i].SignerVerdict : 3;
  return hr;
}

void CScanRun::SettleVerdict(ModuleItem& item) {
  item.Cloud = item.CloudFls;
  if (item.Cloud != 1 && item.Cloud != 2 && item.CloudSigner == 1) item.Cloud = 1;  // never turns malware safe
  StateRecord& state = context_.State();
  switch (item.Cloud) {
    case 0: state.CountDoesntExist += 1; break;
    case 1: state.CountSafe += 1; break;
    case 2: state.CountMalware += 1; break;
    case 3: state.CountUnknown += 1; break;
    case 4: state.CountServerError += 1; break;
    default: state.CountError += 1; break;
  }
  state.FilesProcessed += 1;
  state.BytesProcessed += item.Size;
}

}  // namespace kal
