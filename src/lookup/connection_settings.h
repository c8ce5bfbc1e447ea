// How a client reaches the network: direct, or through a proxy with optional credentials. Shared
// by the lookup client and the HTTP client; nothing changes the defaults, so traffic goes direct.
#pragma once

#include <cstdint>
#include <string>

namespace kal {

struct ConnectionSettings {
  uint32_t UseProxy = 0;
  struct {
    uint32_t Kind = 0;  // 2 http://, 3 https://, 4 ftp://
    std::wstring ProxyHost;
    uint16_t ProxyPort = 0;
  } Proxy;
  uint32_t ProxyNeedsCredentials = 0;
  std::wstring ProxyUser;
  std::wstring ProxyPassword;
};

}  // namespace kal
