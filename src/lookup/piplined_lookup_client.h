// The lookup client: batches of 20-byte keys gathered into packs of up to 100, queued on a UDP
// and/or a TCP pipeline, sent from one worker thread, matched to their answers by sequence
// number, and handed from UDP to TCP when UDP stays silent. Callers block on the pack's event.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "lookup/connection_settings.h"
#include "lookup/initializable.h"
#include "lookup/wire_format.h"
#include "lookup/worker_thread.h"

#ifndef VANTORAG_LOOKUP_HOST
#define VANTORAG_LOOKUP_HOST "localhost"
#endif

namespace kal {

class CPiplinedLookupClient : public CSafetyLookupClientBase, public CInitializable {
 public:
  static constexpr uint32_t kPackCapacity = 100;
  // Transports a pack may travel on; also the pipelines' kinds.
  static constexpr uint32_t kTransportUdp = 1;
  static constexpr uint32_t kTransportTcp = 2;
  // Ports used when the port given is 0.
  static constexpr uint16_t kDefaultUdpPort = 4447;
  static constexpr uint16_t kDefaultTcpPort = 4448;
  static constexpr uint16_t kDefaultProxiedTcpPort = 4442;
  static constexpr DWORD kTimerPeriodMs = 1000;
  // FILETIME units (100 ns).
  static constexpr uint64_t kHandOverAge = 30000000ull;      // 3 s
  static constexpr uint64_t kIdleLimit = 18000000000ull;     // 30 min
  static constexpr DWORD kStopPauseMs = 200;
  static constexpr DWORD kShutdownTimeoutMs = 10000;

  class CPack;
  template <typename TRequest, typename TResponse, uint32_t N>
  class CPackTmpl;
  using CHashPack = CPackTmpl<CSafetyLookupClientBase::CRequest, CSafetyLookupClientBase::CResponceHt,
                              kPackCapacity>;
  using CVendorPack = CPackTmpl<CSafetyLookupClientBase::CRequest,
                                CSafetyLookupClientBase::CResponceTv, kPackCapacity>;
  class CPipline;
  class CUdpPipline;
  class CTcpPipline;

  // The time every pipeline reads: FILETIME units. The system clock unless a test sets another.
  using Clock = std::function<uint64_t()>;

  struct Statistics {
    uint64_t SentCount;
    uint64_t ReceivedCount;
  };

  // host is the lookup service's name (ANSI code page), fixed when the program is built.
  explicit CPiplinedLookupClient(std::string host = VANTORAG_LOOKUP_HOST);
  ~CPiplinedLookupClient() override;

  // E_UNEXPECTED when neither transport is on or the client runs already. No network activity:
  // a pipeline opens its socket on first use, on the worker thread.
  HRESULT Start(bool udpOn, bool tcpOn, uint16_t udpPort, uint16_t tcpPort);
  // count is taken modulo 256. answers receives count records in key order; on failure the ones
  // of packs already answered are filled, the rest untouched. A pack not answered in timeoutMs
  // gives 0x800705B4.
  HRESULT LookupHashes(uint32_t count, const CRequest* keys, CResponceHt* answers, uint32_t tag,
                       uint32_t transportMask, uint32_t timeoutMs);
  HRESULT LookupVendors(uint32_t count, const CRequest* keys, CResponceTv* answers, uint32_t tag,
                        uint32_t transportMask, uint32_t timeoutMs);
  // kind 1 UDP, 2 TCP; false, out untouched, when no pipeline of that kind exists.
  bool GetStatistics(uint32_t kind, Statistics* out) const;
  // Closes every pipeline (pending and in-flight packs end E_ABORT) and stops the worker.
  void Stop();
  void Uninitialize() override { Stop(); }

  // Set before Start.
  void SetClock(Clock clock) { clock_ = std::move(clock); }
  ConnectionSettings& Connection() { return connection_; }

  // Whether the pipeline of that kind has been given up (UDP after a silent stretch).
  bool IsDead(uint32_t kind) const;

  uint64_t Now() const;
  const std::string& Host() const { return host_; }

 private:
  class CTimerHandler : public CKalWorkerClientTimer {
   public:
    explicit CTimerHandler(CPiplinedLookupClient& client) : client_(client) {}
    HRESULT Execute(DWORD_PTR param, HANDLE handle) override;

   private:
    CPiplinedLookupClient& client_;
  };

  template <typename TPack, typename TResponse>
  HRESULT Lookup(uint32_t requestType, uint32_t count, const CRequest* keys, TResponse* answers,
                 uint32_t tag, uint32_t transportMask, uint32_t timeoutMs);
  CPipline* Find(uint32_t kind) const;

  std::string host_;
  ConnectionSettings connection_;
  std::unique_ptr<CPipline> chain_;
  CKalWorkerThread worker_;
  CTimerHandler timer_;
  Clock clock_;
};

}  // namespace kal
