// The UDP pipeline: one request per datagram to the resolved peer, and the hand-over of packs
// that stay unanswered for 3 s to the next pipeline, until UDP is given up altogether.
#include "lookup/lookup_pipline.h"

#include "support/hresult.h"

namespace kal {

int CPiplinedLookupClient::CUdpPipline::Send(const uint8_t* bytes, int length) {
  return ::sendto(socket_.Get(), reinterpret_cast<const char*>(bytes), length, 0,
                  reinterpret_cast<const sockaddr*>(&peer_), sizeof(peer_));
}

int CPiplinedLookupClient::CUdpPipline::Receive(uint8_t* buffer, int length) {
  sockaddr_in from{};
  int fromLength = sizeof(from);  // the sender is not checked: answers match by sequence number
  return ::recvfrom(socket_.Get(), reinterpret_cast<char*>(buffer), length, 0, reinterpret_cast<sockaddr*>(&from),
                    &fromLength);
}

HRESULT CPiplinedLookupClient::CUdpPipline::Open(HANDLE event) {
  RETURN_IF_FAILED(Resolve(client_.Host(), port_ != 0 ? port_ : kDefaultUdpPort, &peer_));
  CSocket made(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!made) return E_FAIL;
  if (::WSAEventSelect(made.Get(), event, FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR)
    return HResultFromWin32(::WSAGetLastError());
  socket_ = std::move(made);
  return S_OK;
}

void CPiplinedLookupClient::CUdpPipline::OnTimer() {
  if (IdleCheck()) return;
  const uint64_t now = client_.Now();
  PackList handOver;
  {
    CCriticalSectionLock hold(lock_);
    bool tookOut = false;
    for (auto it = inFlightOrder_.begin(); it != inFlightOrder_.end();) {
      InFlight& entry = inFlight_[*it];
      if (now - entry.Pack->SendTime < kHandOverAge) break;
      if (next_ == nullptr || (entry.Pack->TransportMask & next_->GetKind()) != 0) {
        // Without a next pipeline the pack is forgotten; its caller's wait times out.
        if (next_ != nullptr) handOver.push_back(std::move(entry.Pack));
        inFlight_.erase(*it);
        it = inFlightOrder_.erase(it);
        tookOut = true;
      } else {
        ++it;
      }
    }
    if (tookOut && next_ != nullptr && SentCount > 100 && ReceivedCount * 100 / SentCount < 5) Dead = true;
    if (Dead) {
      for (uint32_t number : inFlightOrder_) handOver.push_back(std::move(inFlight_[number].Pack));
      inFlight_.clear();
      inFlightOrder_.clear();
    }
  }
  // The UDP lock is released before the next pipeline's is taken.
  if (!handOver.empty()) next_->TakeOver(std::move(handOver));
}

}  // namespace kal
