// The lookup phase's client for the real service: the pipelined UDP/TCP client behind the phase's
// interface.
#pragma once

#include "control/lookup_client.h"
#include "lookup/piplined_lookup_client.h"

namespace kal {

class CNetworkLookupClient : public ILookupClient {
 public:
  HRESULT Start(bool udp, bool tcp, uint16_t udpPort, uint16_t tcpPort) override {
    return client_.Start(udp, tcp, udpPort, tcpPort);
  }
  HRESULT LookupHashes(uint32_t count, const LookupKey* keys, HashVerdict* answers, uint32_t tag,
                       uint32_t channelMask, uint32_t timeoutMs) override {
    return client_.LookupHashes(count, keys, answers, tag, channelMask, timeoutMs);
  }
  HRESULT LookupVendors(uint32_t count, const LookupKey* keys, VendorVerdict* answers, uint32_t tag,
                        uint32_t channelMask, uint32_t timeoutMs) override {
    return client_.LookupVendors(count, keys, answers, tag, channelMask, timeoutMs);
  }
  bool GetStatistics(uint32_t channel, uint64_t* sent, uint64_t* received) override {
    CPiplinedLookupClient::Statistics counts;
    if (!client_.GetStatistics(channel, &counts)) return false;
    *sent = counts.SentCount;
    *received = counts.ReceivedCount;
    return true;
  }
  void Stop() override { client_.Stop(); }

 private:
  CPiplinedLookupClient client_;
};

}  // namespace kal
