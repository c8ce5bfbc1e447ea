// The client side of the lookup pipelines: starting and stopping them on the worker thread, and
// the callers' lookups that fill packs, queue them and wait for their answers.
#include "lookup/piplined_lookup_client.h"

#include "lookup/lookup_pipline.h"
#include "support/hresult.h"

namespace kal {

CPiplinedLookupClient::CPiplinedLookupClient(std::string host) : host_(std::move(host)), timer_(*this) {}

CPiplinedLookupClient::~CPiplinedLookupClient() {
  worker_.Shutdown(kShutdownTimeoutMs);
  chain_.reset();
}

uint64_t CPiplinedLookupClient::Now() const {
  if (clock_) return clock_();
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

HRESULT CPiplinedLookupClient::CTimerHandler::Execute(DWORD_PTR, HANDLE) {
  if (client_.chain_) client_.chain_->OnTimer();
  return S_OK;
}

HRESULT CPiplinedLookupClient::Start(bool udpOn, bool tcpOn, uint16_t udpPort, uint16_t tcpPort) {
  if (!udpOn && !tcpOn) return E_UNEXPECTED;
  if (IsInitialized()) return E_UNEXPECTED;
  HRESULT hr = worker_.Initialize();
  if (SUCCEEDED(hr)) hr = worker_.AddTimer(&timer_, kTimerPeriodMs, 0);
  if (SUCCEEDED(hr) && tcpOn) {
    std::unique_ptr<CPipline> tcp(new CTcpPipline(*this, tcpPort));
    hr = worker_.AddHandle(tcp.get(), true, false, 0);
    if (SUCCEEDED(hr)) chain_ = std::move(tcp);
  }
  if (SUCCEEDED(hr) && udpOn) {
    std::unique_ptr<CPipline> udp(new CUdpPipline(*this, udpPort));
    // Linked before it is registered: the timer may walk the chain from now on.
    udp->SetNext(std::move(chain_));
    CPipline* raw = udp.get();
    chain_ = std::move(udp);
    hr = worker_.AddHandle(raw, true, false, 0);
  }
  if (FAILED(hr)) {
    worker_.Shutdown(kShutdownTimeoutMs);
    chain_.reset();
    return hr;
  }
  ExchangeInitialized(true);
  return S_OK;
}

void CPiplinedLookupClient::Stop() {
  if (!IsInitialized()) return;
  for (CPipline* p = chain_.get(); p != nullptr; p = p->Next()) {
    p->RequestClose();
    ::Sleep(kStopPauseMs);  // the worker closes the socket and ends every pack with E_ABORT
  }
  worker_.Shutdown(kShutdownTimeoutMs);
  chain_.reset();
  ExchangeInitialized(false);
}

CPiplinedLookupClient::CPipline* CPiplinedLookupClient::Find(uint32_t kind) const {
  for (CPipline* p = chain_.get(); p != nullptr; p = p->Next())
    if (p->GetKind() == kind) return p;
  return nullptr;
}

bool CPiplinedLookupClient::GetStatistics(uint32_t kind, Statistics* out) const {
  CPipline* p = IsInitialized() ? Find(kind) : nullptr;
  if (p == nullptr) return false;
  *out = p->GetStatistics();
  return true;
}

bool CPiplinedLookupClient::IsDead(uint32_t kind) const {
  CPipline* p = IsInitialized() ? Find(kind) : nullptr;
  return p != nullptr && p->IsDead();
}

template <typename TPack, typename TResponse>
HRESULT CPiplinedLookupClient::Lookup(uint32_t requestType, uint32_t count, const CRequest* keys,
                                      TResponse* answers, uint32_t tag, uint32_t transportMask,
                                      uint32_t timeoutMs) {
  if (!IsInitialized()) return E_UNEXPECTED;
  CPipline* pipline = nullptr;
  for (CPipline* p = chain_.get(); p != nullptr && pipline == nullptr; p = p->Next())
    if (!p->IsDead() && (p->GetKind() & transportMask) != 0) pipline = p;
  if (pipline == nullptr) return E_FAIL;
  count %= 256;

  uint32_t done = 0;
  while (done < count) {
    CRefPtr<TPack> pack;
    uint32_t first = 0, added = 0;
    {
      CCriticalSectionLock hold(pipline->Lock());
      for (CRefPtr<CPack>& queued : pipline->Pending()) {
        if (!queued->IsFull() && queued->RequestTag == tag && queued->GetType() == requestType) {
          TPack* same = static_cast<TPack*>(queued.Get());  // the request type names the pack type
          same->AddRef();
          pack = CRefPtr<TPack>(same);
          break;
        }
      }
      const bool made = !pack;
      if (made) {
        RETURN_IF_FAILED(TPack::Create(keys[done], tag, requestType, transportMask, &pack));
        added = 1;
      } else {
        first = pack->Count;
      }
      while (done + added < count && !pack->IsFull()) pack->AddRequest(keys[done + added++]);
      if (made) {
        pipline->Pending().push_back(CRefPtr<CPack>(pack));
        pipline->Signal();
      }
    }

    HRESULT hr;
    switch (::WaitForSingleObject(pack->Event.Get(), timeoutMs)) {
      case WAIT_OBJECT_0: hr = pack->Result; break;
      case WAIT_TIMEOUT: hr = HResultFromWin32(ERROR_TIMEOUT); break;
      default: hr = E_FAIL; break;
    }
    if (FAILED(hr)) return hr;
    for (uint32_t i = 0; i < added; ++i) pack->GetResponse(first + i, &answers[done + i]);
    done += added;
  }
  return S_OK;
}

HRESULT CPiplinedLookupClient::LookupHashes(uint32_t count, const CRequest* keys, CResponceHt* answers,
                                            uint32_t tag, uint32_t transportMask, uint32_t timeoutMs) {
  return Lookup<CHashPack>(kRequestTypeHash, count, keys, answers, tag, transportMask, timeoutMs);
}

HRESULT CPiplinedLookupClient::LookupVendors(uint32_t count, const CRequest* keys, CResponceTv* answers,
                                             uint32_t tag, uint32_t transportMask, uint32_t timeoutMs) {
  return Lookup<CVendorPack>(kRequestTypeVendor, count, keys, answers, tag, transportMask, timeoutMs);
}

}  // namespace kal
