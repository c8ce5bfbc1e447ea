// What the lookup phase needs of the cloud lookup client: start it, look up a batch of file hashes
// or signer keys, read its traffic counters, stop it. The pipelined UDP/TCP client implements it.
#pragma once

#include <cstdint>

#include "lookup/wire_format.h"
#include "support/win.h"

namespace kal {

using LookupKey = CSafetyLookupClientBase::CRequest;
using HashVerdict = CSafetyLookupClientBase::CResponceHt;
using VendorVerdict = CSafetyLookupClientBase::CResponceTv;

// Channels of the client: bit 0 UDP, bit 1 TCP.
enum LookupChannel : uint32_t { kChannelUdp = 1, kChannelTcp = 2 };

class ILookupClient {
 public:
  virtual ~ILookupClient() = default;
  virtual HRESULT Start(bool udp, bool tcp, uint16_t udpPort, uint16_t tcpPort) = 0;
  // `answers` receives `count` records in key order; count is at most 255.
  virtual HRESULT LookupHashes(uint32_t count, const LookupKey* keys, HashVerdict* answers, uint32_t tag,
                               uint32_t channelMask, uint32_t timeoutMs) = 0;
  virtual HRESULT LookupVendors(uint32_t count, const LookupKey* keys, VendorVerdict* answers, uint32_t tag,
                                uint32_t channelMask, uint32_t timeoutMs) = 0;
  // False, with the outputs untouched, when the channel is not in use.
  virtual bool GetStatistics(uint32_t channel, uint64_t* sent, uint64_t* received) = 0;
  virtual void Stop() = 0;
};

// A client that can't start: what a machine without the service sees. Every batch fails.
class CUnavailableLookupClient : public ILookupClient {
 public:
  HRESULT Start(bool, bool, uint16_t, uint16_t) override { return E_NOTIMPL; }
  HRESULT LookupHashes(uint32_t, const LookupKey*, HashVerdict*, uint32_t, uint32_t, uint32_t) override {
    return E_UNEXPECTED;
  }
  HRESULT LookupVendors(uint32_t, const LookupKey*, VendorVerdict*, uint32_t, uint32_t, uint32_t) override {
    return E_UNEXPECTED;
  }
  bool GetStatistics(uint32_t, uint64_t*, uint64_t*) override { return false; }
  void Stop() override {}
};

}  // namespace kal
