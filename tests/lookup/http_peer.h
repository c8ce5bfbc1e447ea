// A one-connection-at-a-time HTTP server on 127.0.0.1 for the HTTP client's tests: it reads a
// request head, records the request line, writes the canned answer for the path and closes.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/socket.h"

namespace kal {
namespace test {

class CHttpPeer {
 public:
  // Raw answers (status line, headers and body) keyed by the request path.
  explicit CHttpPeer(std::map<std::string, std::string> answers, uint16_t port = 0) : answers_(std::move(answers)) {
    listener_.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!listener_) return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    a.sin_port = ::htons(port);
    if (::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || ::listen(listener_.Get(), 8) != 0) {
      listener_.Reset();
      return;
    }
    int length = sizeof(a);
    ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ::ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~CHttpPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool Ready() const { return listener_.IsValid(); }
  uint16_t Port() const { return port_; }
  std::vector<std::string> RequestLines() {
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
  }

 private:
  void Serve() {
    while (!stop_) {
      fd_set read;
      FD_ZERO(&read);
      FD_SET(listener_.Get(), &read);
      timeval wait{0, 20000};
      if (::select(0, &read, nullptr, nullptr, &wait) <= 0) continue;
      CSocket connection(::accept(listener_.Get(), nullptr, nullptr));
      if (!connection) continue;
      std::string head;
      char buffer[4096];
      while (head.find("\r\n\r\n") == std::string::npos) {
        const int n = ::recv(connection.Get(), buffer, sizeof(buffer), 0);
        if (n <= 0) break;
        head.append(buffer, static_cast<size_t>(n));
      }
      const std::string line = head.substr(0, head.find("\r\n"));
      {
        std::lock_guard<std::mutex> hold(mutex_);
        lines_.push_back(line);
      }
      const size_t start = line.find(' ') + 1;
      std::string path = line.substr(start, line.find(' ', start) - start);
      const auto answer = answers_.find(path);
      const std::string reply =
          answer != answers_.end() ? answer->second : "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      ::send(connection.Get(), reply.data(), static_cast<int>(reply.size()), 0);
      ::shutdown(connection.Get(), SD_SEND);
      // Let the client read everything before the socket goes; a client that keeps the
      // connection for reuse gets two seconds.
      DWORD timeoutMs = 2000;
      ::setsockopt(connection.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
                   sizeof(timeoutMs));
      while (::recv(connection.Get(), buffer, sizeof(buffer), 0) > 0) {
      }
    }
  }

  std::map<std::string, std::string> answers_;
  CSocket listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace test
}  // namespace kal
