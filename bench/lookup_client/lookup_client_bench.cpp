// Keys per second through the pipelined client to a lookup server on this machine: full packs of
// 100 keys over UDP alone and TCP alone, one caller and several callers at once.
// Usage: lookup_client_bench.exe --udp-port=N --tcp-port=N [--seconds=S]
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <thread>
#include <vector>

#include "lookup/piplined_lookup_client.h"
#include "support/socket.h"

namespace {

using kal::CPiplinedLookupClient;

struct Figures {
  double keysPerSecond;
  int failures;
};

Figures Measure(CPiplinedLookupClient& client, uint32_t transport, int callers, double seconds) {
  std::vector<std::thread> threads;
  std::vector<long long> keys(static_cast<size_t>(callers), 0);
  std::vector<int> failures(static_cast<size_t>(callers), 0);
  const DWORD start = ::GetTickCount();
  const DWORD limit = static_cast<DWORD>(seconds * 1000);
  for (int c = 0; c < callers; ++c) {
    threads.emplace_back([&, c] {
      std::vector<CPiplinedLookupClient::CRequest> requests(100);
      for (size_t i = 0; i < requests.size(); ++i)
        for (int b = 0; b < 20; ++b) requests[i].Key[b] = static_cast<uint8_t>(c * 7 + i + b);
      std::vector<CPiplinedLookupClient::CResponceHt> answers(100);
      while (::GetTickCount() - start < limit) {
        // A tag per caller, so that each caller's keys travel in packs of their own.
        if (SUCCEEDED(client.LookupHashes(100, requests.data(), answers.data(), 10 + c, transport, 5000)))
          keys[static_cast<size_t>(c)] += 100;
        else
          failures[static_cast<size_t>(c)] += 1;
      }
    });
  }
  for (auto& t : threads) t.join();
  const double elapsed = (::GetTickCount() - start) / 1000.0;
  Figures f{0, 0};
  for (int c = 0; c < callers; ++c) {
    f.keysPerSecond += keys[static_cast<size_t>(c)] / elapsed;
    f.failures += failures[static_cast<size_t>(c)];
  }
  return f;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int udpPort = 0, tcpPort = 0;
  double seconds = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::swscanf(argv[i], L"--udp-port=%d", &udpPort) == 1) continue;
    if (std::swscanf(argv[i], L"--tcp-port=%d", &tcpPort) == 1) continue;
    if (std::swscanf(argv[i], L"--seconds=%lf", &seconds) == 1) continue;
    std::fwprintf(stderr, L"unknown argument %ls\n", argv[i]);
    return 2;
  }
  if (udpPort == 0 || tcpPort == 0) {
    std::fwprintf(stderr, L"usage: lookup_client_bench --udp-port=N --tcp-port=N [--seconds=S]\n");
    return 2;
  }
  kal::CWinsockSession winsock;
  const struct {
    const char* name;
    uint32_t transport;
    int callers;
  } rows[] = {{"udp", 1, 1}, {"tcp", 2, 1}, {"udp", 1, 4}, {"tcp", 2, 4}};
  for (const auto& row : rows) {
    CPiplinedLookupClient client;
    if (FAILED(client.Start(row.transport == 1, row.transport == 2, static_cast<uint16_t>(udpPort),
                            static_cast<uint16_t>(tcpPort)))) {
      std::printf("%s: client did not start\n", row.name);
      return 1;
    }
    const Figures f = Measure(client, row.transport, row.callers, seconds);
    std::printf("client_%s_callers%d_keys_per_s=%.0f failures=%d\n", row.name, row.callers, f.keysPerSecond, f.failures);
    client.Stop();
  }
  return 0;
}
