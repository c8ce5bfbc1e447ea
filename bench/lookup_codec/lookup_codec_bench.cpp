// Prints how many full packs per second the request encoder and the answer decoder handle, each
// against a plain copy of the same bytes measured in the same run, and (Windows) how long the
// worker thread takes from SetEvent to Execute against a bare thread waiting on an event.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "lookup/wire_format.h"

#ifdef _WIN32
#include "lookup/worker_thread.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using kal::CSafetyLookupClientBase;

volatile uint32_t g_sink;

// Runs body repeatedly for about `seconds` and returns calls per second.
template <typename Body>
double Rate(Body body, double seconds = 1.0) {
  uint64_t calls = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    for (int i = 0; i < 256; ++i) body();
    calls += 256;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds);
  return calls / elapsed;
}

// Keeps the compiler from dropping a copy whose result nobody reads.
void Clobber() { asm volatile("" ::: "memory"); }

void Line(const char* what, double rate, double copyRate) {
  std::printf("%-30s %10.0f packs/s  %7.3f us/pack   plain copy of the bytes %6.3f us (codec %.0fx)\n",
              what, rate, 1e6 / rate, 1e6 / copyRate, copyRate / rate);
}

void Codec() {
  std::vector<CSafetyLookupClientBase::CRequest> keys(100);
  for (size_t i = 0; i < keys.size(); ++i) std::memset(keys[i].Key, static_cast<int>(i), 20);
  const CSafetyLookupClientBase::CProtocolSettings settings;

  // Encoding: a fresh send stream per pack, as the pipeline makes one per send.
  static uint8_t source[4096], copy[4096];
  auto copyOf = [](size_t n) {
    return Rate([n] {
      std::memcpy(copy, source, n);
      Clobber();
    });
  };
  const double encode = Rate([&] {
    kal::CMemoryStream s(20 * 100 + 8);
    kal::CSerializationWriter writer(&s);
    kal::EncodeRequest(writer, 2, CSafetyLookupClientBase::NextSequenceNumber(), settings, 2,
                       keys.data(), 100);
    g_sink = g_sink + s.GetSize();
  });

  // Decoding: full hash and vendor answers from one receive stream.
  std::vector<uint8_t> hash = {1, 0, 0, 0, 100}, vendor = {1, 0, 0, 0, 100};
  for (int i = 0; i < 100; ++i) {
    const uint8_t entry[14] = {1, 2, 0, 0, 0, 9, 0, 0, 0x01, 0x7F, 0, 0, 0, static_cast<uint8_t>(i)};
    hash.insert(hash.end(), entry, entry + 14);
    vendor.push_back(1);
  }
  kal::CMemoryStream hashStream, vendorStream;
  hashStream.Write(hash.data(), static_cast<uint32_t>(hash.size()), 0);
  vendorStream.Write(vendor.data(), static_cast<uint32_t>(vendor.size()), 0);
  CSafetyLookupClientBase::CResponceHt ht[100];
  CSafetyLookupClientBase::CResponceTv tv[100];
  const double decodeHash = Rate([&] {
    hashStream.SetPosition(0);
    kal::CSerializationReader reader(&hashStream);
    g_sink = g_sink + kal::ReadResponseSequenceNumber(reader);
    kal::DecodeResponses(reader, 100, ht);
  });
  const double decodeVendor = Rate([&] {
    vendorStream.SetPosition(0);
    kal::CSerializationReader reader(&vendorStream);
    g_sink = g_sink + kal::ReadResponseSequenceNumber(reader);
    kal::DecodeResponses(reader, 100, tv);
  });

  std::printf("full packs of 100 keys: request %u bytes, hash answer %zu, vendor answer %zu\n",
              2026u, hash.size(), vendor.size());
  Line("encode hash request", encode, copyOf(2026));
  Line("decode hash answer", decodeHash, copyOf(hash.size()));
  Line("decode vendor answer", decodeVendor, copyOf(vendor.size()));
}

#ifdef _WIN32
// SetEvent -> wake-up latencies in microseconds: median and 99th percentile.
struct Latency {
  double median, p99;
};

Latency Summarize(std::vector<double>& us) {
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[us.size() * 99 / 100]};
}

LARGE_INTEGER g_set;
double g_frequency;

double SinceSet() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return (now.QuadPart - g_set.QuadPart) * 1e6 / g_frequency;
}

class CWakeClient : public kal::CKalWorkerClientEvent {
 public:
  HRESULT Execute(DWORD_PTR, HANDLE) override {
    woke = SinceSet();
    ::SetEvent(ack.Get());
    return S_OK;
  }
  double woke = 0;
  kal::CEvent ack{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

struct BareThread {
  kal::CEvent go{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  kal::CEvent ack{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  double woke = 0;
  bool stop = false;
  static DWORD WINAPI Run(void* p) {
    auto* self = static_cast<BareThread*>(p);
    for (;;) {
      ::WaitForSingleObject(self->go.Get(), INFINITE);
      if (self->stop) return 0;
      self->woke = SinceSet();
      ::SetEvent(self->ack.Get());
    }
  }
};

void WakeUp() {
  constexpr int kRounds = 3000;
  LARGE_INTEGER f;
  ::QueryPerformanceFrequency(&f);
  g_frequency = static_cast<double>(f.QuadPart);

  std::vector<double> worker, bare;
  {
    CWakeClient client;
    kal::CKalWorkerThread thread;
    if (FAILED(thread.Initialize()) || FAILED(thread.AddHandle(&client, false, false, 0))) {
      std::printf("worker could not start\n");
      return;
    }
    for (int i = 0; i < kRounds; ++i) {
      ::QueryPerformanceCounter(&g_set);
      ::SetEvent(client.GetHandle());
      ::WaitForSingleObject(client.ack.Get(), INFINITE);
      worker.push_back(client.woke);
    }
    thread.Shutdown(10000);
  }
  {
    BareThread t;
    kal::CThreadHandle h(::CreateThread(nullptr, 0, &BareThread::Run, &t, 0, nullptr));
    for (int i = 0; i < kRounds; ++i) {
      ::QueryPerformanceCounter(&g_set);
      ::SetEvent(t.go.Get());
      ::WaitForSingleObject(t.ack.Get(), INFINITE);
      bare.push_back(t.woke);
    }
    t.stop = true;
    ::SetEvent(t.go.Get());
    ::WaitForSingleObject(h.Get(), INFINITE);
  }
  const Latency w = Summarize(worker), b = Summarize(bare);
  std::printf("SetEvent -> Execute (worker, %d rounds): median %.1f us, p99 %.1f us\n", kRounds,
              w.median, w.p99);
  std::printf("SetEvent -> wake (bare thread):          median %.1f us, p99 %.1f us   (worker %.2fx)\n",
              b.median, b.p99, w.median / b.median);
}
#endif

}  // namespace

int main() {
  Codec();
#ifdef _WIN32
  WakeUp();
#endif
  return 0;
}
