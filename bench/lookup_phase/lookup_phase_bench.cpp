// The lookup phase of one run over synthetic item tables: every module is hashed (the digest of
// its path, so no file is read), one in ten has a signer among 50 vendor names, and the real
// network client asks the server on 127.0.0.1 in the run's batches. Prints the phase's time, the
// peak memory of the process and its commit with the tables alone, and how the verdicts ended.
// Usage: lookup_phase_bench --modules=N --udp-port=P --tcp-port=P
#include <cstdio>
#include <cwchar>
#include <string>

#include "bench_measure.h"
#include "analysis/sha1_core.h"
#include "control/scan_run.h"
#include "support/handles.h"

#include <psapi.h>

namespace {

using namespace kal;
using namespace kal::bench;

constexpr double kMegabyte = 1024.0 * 1024.0;

// The examinations without the files: no version strings, a signer for one file in ten, the
// digest of the path as its hash.
class CSyntheticExaminer final : public IFileExaminer {
 public:
  void BeginPhase() override {}
  void EndPhase() override {}
  bool ReadVersionStrings(const std::wstring&, VersionStrings*) override { return false; }
  std::wstring GetSigner(const std::wstring& path) override {
    const size_t n = std::wcstoul(path.c_str() + path.rfind(L'_') + 1, nullptr, 10);
    return n % 10 == 0 ? L"Vendor Corporation " + std::to_wstring(n / 10 % 50) : std::wstring();
  }
  HRESULT Hash(const std::wstring& path, uint8_t* sha1, bool* clr) override {
    const auto digest = cryptography::Sha1Digest(path.data(), path.size() * sizeof(wchar_t));
    std::copy(digest.begin(), digest.end(), sha1);
    *clr = false;
    return S_OK;
  }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  unsigned modules = 1000000, udpPort = 0, tcpPort = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::swscanf(argv[i], L"--modules=%u", &modules) == 1) continue;
    if (std::swscanf(argv[i], L"--udp-port=%u", &udpPort) == 1) continue;
    if (std::swscanf(argv[i], L"--tcp-port=%u", &tcpPort) == 1) continue;
    std::fwprintf(stderr, L"unknown argument %ls\n", argv[i]);
    return 2;
  }
  if (udpPort == 0 || tcpPort == 0 || udpPort > 65535 || tcpPort > 65535) {
    std::fwprintf(stderr, L"--udp-port and --tcp-port are needed\n");
    return 2;
  }

  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  RunConfig config;
  config.FlsUdpPort = static_cast<uint16_t>(udpPort);
  config.FlsTcpPort = static_cast<uint16_t>(tcpPort);
  config.RunEvent.Reset(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
  StateRecord state;
  state.StatePath = std::wstring(temp) + L"lookup_phase_bench_state.txt";
  CStateWriteClock clock;
  CRunContext context(config, state, clock);
  CScanItems items(context);
  for (unsigned id = 1; id <= modules; ++id) {
    const std::wstring path = L"C:\\Program Files\\Vendor " + std::to_wstring(id % 97) + L"\\Product\\module_" +
                              std::to_wstring(id) + L".dll";
    ModuleItem& m = items.Modules()[ModuleKey(path)];
    m.Id = id;
    m.Path = path;
    m.Size = 4096 + id;
  }
  const double tablesMb = Memory().PagefileUsage / kMegabyte;

  CSyntheticExaminer examiner;
  CScanRun run(context, items, nullptr, &examiner);
  const double start = Seconds();
  const HRESULT hr = run.LookupPhase();
  const double elapsed = Seconds() - start;
  const PROCESS_MEMORY_COUNTERS peak = Memory();

  unsigned answered = 0, signers = 0;
  for (const auto& entry : items.Modules()) {
    if (entry.second.CloudFls != 3) ++answered;
    if (!entry.second.Signer.empty() && entry.second.CloudSigner != 3) ++signers;
  }
  std::printf("lookup phase, %u modules: %.2f s (%.0f modules/s), hr 0x%08lx\n", modules, elapsed,
              modules / elapsed, static_cast<unsigned long>(hr));
  std::printf("  memory: tables %.0f MB commit; peak commit %.0f MB, peak working set %.0f MB\n", tablesMb,
              peak.PeakPagefileUsage / kMegabyte, peak.PeakWorkingSetSize / kMegabyte);
  std::printf("  answers: %u of %u hashes, %u signed files' signers; verdicts: %u not in the store, %u unknown, "
              "%u server error, %u error\n",
              answered, modules, signers, state.CountDoesntExist, state.CountUnknown, state.CountServerError,
              state.CountError);
  ::DeleteFileW(state.StatePath.c_str());
  return SUCCEEDED(hr) ? 0 : 1;
}
