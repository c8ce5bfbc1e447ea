// A scripted lookup service on 127.0.0.1 for the client's tests: a UDP socket and a TCP listener
// on ports the system picks, served by one thread that frames requests and replies with whatever
// the test's script says for each one (answer, split answer, garbage, silence, reset).
#pragma once

#include "support/win.h"

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/socket.h"

namespace kal {
namespace test {

struct PeerRequest {
  int Transport;  // 1 UDP, 2 TCP
  uint8_t Type;
  uint32_t Sequence;
  uint32_t Count;
  std::string Keys;  // 20 bytes each
  DWORD Tick;        // GetTickCount when it arrived
};

// What the peer sends back: chunks written one after another with a pause before each; Reset
// ends the TCP connection with a reset after the chunks.
struct PeerReply {
  struct Chunk {
    std::string Bytes;
    DWORD PauseMs;
  };
  std::vector<Chunk> Chunks;
  bool Reset = false;

  static PeerReply Silent() { return PeerReply(); }
  static PeerReply Send(std::string bytes) {
    PeerReply r;
    r.Chunks.push_back({std::move(bytes), 0});
    return r;
  }
};

inline void PutLe32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>(v >> (8 * i)));
}
inline void PutBe(std::string* out, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out->push_back(static_cast<char>(v >> (8 * i)));
}

// The answer to a hash request: every key gets (fls, lumen, aux, dateMs); count may be forced.
inline std::string HashAnswer(const PeerRequest& r, int8_t fls, int8_t lumen = 2, uint32_t aux = 7,
                              uint64_t dateMs = 1644972474368ull, int count = -1) {
  std::string out;
  PutLe32(&out, r.Sequence);
  out.push_back(static_cast<char>(count < 0 ? r.Count : static_cast<uint32_t>(count)));
  for (uint32_t i = 0; i < r.Count; ++i) {
    out.push_back(static_cast<char>(fls));
    out.push_back(static_cast<char>(lumen));
    PutBe(&out, aux, 4);
    PutBe(&out, dateMs, 8);
  }
  return out;
}

inline std::string VendorAnswer(const PeerRequest& r, int8_t verdict) {
  std::string out;
  PutLe32(&out, r.Sequence);
  out.push_back(static_cast<char>(r.Count));
  out.append(r.Count, static_cast<char>(verdict));
  return out;
}

class CLookupPeer {
 public:
  using Script = std::function<PeerReply(const PeerRequest&)>;

  // Port 0 binds a port the system picks.
  explicit CLookupPeer(Script script, uint16_t udpPort = 0, uint16_t tcpPort = 0) : script_(std::move(script)) {
    udp_ = Bind(SOCK_DGRAM, IPPROTO_UDP, udpPort, &udpPort_);
    tcp_ = Bind(SOCK_STREAM, IPPROTO_TCP, tcpPort, &tcpPort_);
    if (tcp_) ::listen(tcp_.Get(), 8);
    thread_ = std::thread([this] { Serve(); });
  }
  ~CLookupPeer() {
    stop_ = true;
    thread_.join();
  }
  bool Ready() const { return udp_.IsValid() && tcp_.IsValid(); }
  uint16_t UdpPort() const { return udpPort_; }
  uint16_t TcpPort() const { return tcpPort_; }

  std::vector<PeerRequest> Requests() {
    std::lock_guard<std::mutex> hold(mutex_);
    return requests_;
  }
  int Connections() const { return connections_; }
  // Connections the client closed (recv gave 0).
  int ClosedByClient() const { return closedByClient_; }

 private:
  static CSocket Bind(int type, int protocol, uint16_t port, uint16_t* bound) {
    CSocket s(::socket(AF_INET, type, protocol));
    if (!s) return s;
    BOOL yes = TRUE;
    ::setsockopt(s.Get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof(yes));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    a.sin_port = ::htons(port);
    if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) return CSocket();
    int length = sizeof(a);
    ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &length);
    *bound = ::ntohs(a.sin_port);
    return s;
  }

  bool Parse(int transport, const std::string& bytes, size_t* used, PeerRequest* r) {
    if (bytes.size() < 26) return false;
    const uint32_t count = static_cast<uint8_t>(bytes[5]);
    if (bytes.size() < 26 + 20 * count) return false;
    r->Transport = transport;
    r->Type = static_cast<uint8_t>(bytes[0]);
    std::memcpy(&r->Sequence, bytes.data() + 1, 4);
    r->Count = count;
    r->Keys = bytes.substr(26, 20 * count);
    r->Tick = ::GetTickCount();
    *used = 26 + 20 * count;
    std::lock_guard<std::mutex> hold(mutex_);
    requests_.push_back(*r);
    return true;
  }

  void Serve() {
    std::vector<char> buffer(65536);
    std::string stream;
    CSocket connection;
    while (!stop_) {
      fd_set read;
      FD_ZERO(&read);
      FD_SET(udp_.Get(), &read);
      FD_SET(tcp_.Get(), &read);
      if (connection) FD_SET(connection.Get(), &read);
      timeval wait{0, 20000};
      if (::select(0, &read, nullptr, nullptr, &wait) <= 0) continue;
      if (FD_ISSET(udp_.Get(), &read)) {
        sockaddr_in from{};
        int fromLength = sizeof(from);
        const int n = ::recvfrom(udp_.Get(), buffer.data(), static_cast<int>(buffer.size()), 0,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
        PeerRequest r;
        size_t used;
        if (n > 0 && Parse(1, std::string(buffer.data(), static_cast<size_t>(n)), &used, &r)) {
          for (const PeerReply::Chunk& c : script_(r).Chunks) {
            if (c.PauseMs) ::Sleep(c.PauseMs);
            ::sendto(udp_.Get(), c.Bytes.data(), static_cast<int>(c.Bytes.size()), 0,
                     reinterpret_cast<sockaddr*>(&from), fromLength);
          }
        }
      }
      if (FD_ISSET(tcp_.Get(), &read)) {
        connection.Reset(::accept(tcp_.Get(), nullptr, nullptr));
        stream.clear();
        ++connections_;
      }
      if (connection && FD_ISSET(connection.Get(), &read)) {
        const int n = ::recv(connection.Get(), buffer.data(), static_cast<int>(buffer.size()), 0);
        if (n <= 0) {
          if (n == 0) ++closedByClient_;
          connection.Reset();
          continue;
        }
        stream.append(buffer.data(), static_cast<size_t>(n));
        PeerRequest r;
        size_t used;
        while (connection && Parse(2, stream, &used, &r)) {
          stream.erase(0, used);
          const PeerReply reply = script_(r);
          for (const PeerReply::Chunk& c : reply.Chunks) {
            if (c.PauseMs) ::Sleep(c.PauseMs);
            ::send(connection.Get(), c.Bytes.data(), static_cast<int>(c.Bytes.size()), 0);
          }
          if (reply.Reset) {
            linger hard{1, 0};
            ::setsockopt(connection.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
            connection.Reset();
          }
        }
      }
    }
  }

  Script script_;
  CSocket udp_, tcp_;
  uint16_t udpPort_ = 0, tcpPort_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<PeerRequest> requests_;
  std::atomic<int> connections_{0};
  std::atomic<int> closedByClient_{0};
};

}  // namespace test
}  // namespace kal
