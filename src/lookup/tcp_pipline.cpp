// The TCP pipeline: one connection, direct or through a proxy's CONNECT, carrying requests and
// answers back to back.
#include "lookup/lookup_pipline.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "support/hresult.h"

namespace kal {

namespace {
std::string ToAnsi(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int length = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string out(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], length, nullptr, nullptr);
  out.resize(static_cast<size_t>(length - 1));
  return out;
}
}  // namespace

int CPiplinedLookupClient::CTcpPipline::Send(const uint8_t* bytes, int length) {
  // A send that takes fewer bytes than the message counts as sent.
  return ::send(socket_.Get(), reinterpret_cast<const char*>(bytes), length, 0);
}

int CPiplinedLookupClient::CTcpPipline::Receive(uint8_t* buffer, int length) {
  return ::recv(socket_.Get(), reinterpret_cast<char*>(buffer), length, 0);
}

HRESULT CPiplinedLookupClient::CTcpPipline::Open(HANDLE event) {
  const bool proxied = connection_->UseProxy != 0;
  const uint16_t port = port_ != 0 ? port_ : (proxied ? kDefaultProxiedTcpPort : kDefaultTcpPort);
  std::string request;
  sockaddr_in target{};
  if (proxied) {
    char line[512];
    std::snprintf(line, sizeof(line), "CONNECT %s:%d HTTP/1.0\r\n\r\n", client_.Host().c_str(), port);
    request = line;
    RETURN_IF_FAILED(Resolve(ToAnsi(connection_->Proxy.ProxyHost), connection_->Proxy.ProxyPort, &target));
  } else {
    RETURN_IF_FAILED(Resolve(client_.Host(), port, &target));
  }

  CSocket made(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!made) return E_FAIL;
  if (::connect(made.Get(), reinterpret_cast<const sockaddr*>(&target), sizeof(target)) == SOCKET_ERROR)
    return HResultFromWin32(::WSAGetLastError());  // made closes the socket
  peer_ = target;
  socket_ = std::move(made);
  if (proxied) {
    const HRESULT tunnelled = Tunnel(request);
    if (FAILED(tunnelled)) {
      socket_.Reset();
      return tunnelled;
    }
  }
  if (::WSAEventSelect(socket_.Get(), event, FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR) {
    const HRESULT hr = HResultFromWin32(::WSAGetLastError());
    socket_.Reset();
    return hr;
  }
  return S_OK;
}

HRESULT CPiplinedLookupClient::CTcpPipline::Tunnel(const std::string& request) {
  if (::send(socket_.Get(), request.data(), static_cast<int>(request.size()), 0) == SOCKET_ERROR)
    return HResultFromWin32(::WSAGetLastError());
  // The proxy's status line is not examined; its header ends at the blank line.
  std::vector<char> seen;
  char chunk[4096];
  for (;;) {
    const int n = ::recv(socket_.Get(), chunk, sizeof(chunk), 0);
    if (n == SOCKET_ERROR) return HResultFromWin32(::WSAGetLastError());
    if (n == 0) return HResultFromWin32(WSAECONNRESET);  // the proxy hung up before its answer ended
    seen.insert(seen.end(), chunk, chunk + n);
    static const char kEnd[] = "\r\n\r\n";
    for (size_t i = 0; i + 4 <= seen.size(); ++i)
      if (std::memcmp(&seen[i], kEnd, 4) == 0) return S_OK;
  }
}

}  // namespace kal
