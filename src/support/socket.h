// Winsock resources: a socket (its invalid value is INVALID_SOCKET, not NULL) and the process's
// use of Winsock between WSAStartup and WSACleanup.
#pragma once

#include "support/win.h"

#include <winsock2.h>

#include "support/unique_resource.h"

namespace kal {

namespace traits {
struct Socket {
  using Type = SOCKET;
  static Type Invalid() { return INVALID_SOCKET; }
  static void Close(Type s) { ::closesocket(s); }
};
}  // namespace traits
using CSocket = UniqueResource<traits::Socket>;

// Winsock started with the requested version; cleaned up again only when the start succeeded.
class CWinsockSession {
 public:
  explicit CWinsockSession(WORD version = MAKEWORD(2, 0)) {
    WSADATA data;
    result_ = ::WSAStartup(version, &data);
  }
  CWinsockSession(const CWinsockSession&) = delete;
  CWinsockSession& operator=(const CWinsockSession&) = delete;
  ~CWinsockSession() {
    if (result_ == 0) ::WSACleanup();
  }
  // The WSAStartup result: 0 or a Winsock error.
  int Result() const { return result_; }

 private:
  int result_;
};

}  // namespace kal
