// The pack: up to 100 keys of one request type and tag that travel in one lookup message, their
// answers, and the manual-reset event on which callers wait until the answers are final. A pack
// is shared between its waiting callers and the pipeline that carries it, so it is
// reference-counted.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "lookup/piplined_lookup_client.h"
#include "lookup/wire_format.h"
#include "support/handles.h"
#include "support/hresult.h"

namespace kal {

// Holds one reference to a reference-counted object (AddRef/Release).
template <typename T>
class CRefPtr {
 public:
  CRefPtr() noexcept = default;
  explicit CRefPtr(T* p) noexcept : p_(p) {}  // takes over a reference
  CRefPtr(const CRefPtr& o) noexcept : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  CRefPtr(CRefPtr&& o) noexcept : p_(o.Detach()) {}
  template <typename U>
  CRefPtr(const CRefPtr<U>& o) noexcept : p_(o.Get()) {
    if (p_) p_->AddRef();
  }
  template <typename U>
  CRefPtr(CRefPtr<U>&& o) noexcept : p_(o.Detach()) {}
  CRefPtr& operator=(CRefPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~CRefPtr() { Reset(); }

  T* Get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  T* Detach() noexcept { return std::exchange(p_, nullptr); }  // keeps the reference
  void Reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }

 private:
  T* p_ = nullptr;
};

class CPiplinedLookupClient::CPack {
 public:
  CPack(const CPack&) = delete;
  CPack& operator=(const CPack&) = delete;
  virtual ~CPack() = default;

  virtual uint32_t GetType() const = 0;
  virtual bool IsFull() const = 0;
  // Writes the request message under the given sequence number.
  virtual void Encode(CSerializationWriter& writer, uint32_t sequenceNumber,
                      const CSafetyLookupClientBase::CProtocolSettings& settings) const = 0;
  // Reads the answers that follow the sequence number; throws as DecodeResponses does.
  virtual void Decode(CSerializationReader& reader) = 0;

  // Sets the final result, then wakes every caller waiting on Event. Only the first call counts:
  // a result that callers may already have read never changes.
  void Complete(HRESULT result);

  void AddRef() noexcept { ++references_; }
  void Release() noexcept {
    if (--references_ == 0) delete this;
  }

  // Outcome, valid once Event is signalled: S_OK, E_FAIL for a bad answer, E_ABORT when the
  // pipeline closed. E_PENDING until then.
  HRESULT Result = E_PENDING;
  uint32_t Count = 0;
  CEvent Event;  // manual reset; signalled exactly when Result is final
  uint32_t RequestTag;
  uint32_t TransportMask;
  uint64_t SendTime = 0;  // FILETIME of the last send

 protected:
  // Event must be created by the maker; see CPackTmpl::Create.
  CPack(uint32_t requestTag, uint32_t transportMask)
      : RequestTag(requestTag), TransportMask(transportMask) {}

 private:
  std::atomic<long> references_{1};
  std::atomic<bool> completed_{false};
};

template <typename TRequest, typename TResponse, uint32_t N>
class CPiplinedLookupClient::CPackTmpl : public CPiplinedLookupClient::CPack {
 public:
  // Makes a pack holding its first key, with every answer preset (hash: FlsVerdict 3, the rest 0;
  // vendor: 0). Fails with the HRESULT of the event creation.
  static HRESULT Create(const TRequest& first, uint32_t requestTag, uint32_t requestType,
                        uint32_t transportMask, CRefPtr<CPackTmpl>* pack) {
    CRefPtr<CPackTmpl> made(new CPackTmpl(requestTag, requestType, transportMask));
    made->Event.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!made->Event) return HResultFromLastError();
    made->AddRequest(first);
    *pack = std::move(made);
    return S_OK;
  }

  uint32_t GetType() const override { return RequestType; }
  bool IsFull() const override { return Count == N; }

  void Encode(CSerializationWriter& writer, uint32_t sequenceNumber,
              const CSafetyLookupClientBase::CProtocolSettings& settings) const override {
    EncodeRequest(writer, RequestType, sequenceNumber, settings, RequestTag, Requests, Count);
  }
  void Decode(CSerializationReader& reader) override { DecodeResponses(reader, Count, Responses); }

  // Stores key at index Count and returns that index; -1 (nothing stored) when the pack is full.
  int32_t AddRequest(const TRequest& key) {
    if (Count >= N) return -1;
    Requests[Count] = key;
    return static_cast<int32_t>(Count++);
  }

  // Copies answer index out; false (out untouched) for an index beyond Count.
  bool GetResponse(uint32_t index, TResponse* out) const {
    if (index >= Count) return false;
    *out = Responses[index];
    return true;
  }

  TRequest Requests[N];
  TResponse Responses[N];
  uint32_t RequestType;

 private:
  CPackTmpl(uint32_t requestTag, uint32_t requestType, uint32_t transportMask)
      : CPack(requestTag, transportMask), Requests(), RequestType(requestType) {
    for (TResponse& r : Responses) PresetResponse(&r);
  }

  static void PresetResponse(CSafetyLookupClientBase::CResponceHt* r) {
    *r = CSafetyLookupClientBase::CResponceHt{kFlsVerdictUnknown, 0, 0, 0};
  }
  static void PresetResponse(CSafetyLookupClientBase::CResponceTv* r) {
    *r = CSafetyLookupClientBase::CResponceTv{kSignerVerdictUnknown};
  }
};

}  // namespace kal
