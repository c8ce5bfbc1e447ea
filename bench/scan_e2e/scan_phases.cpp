// A whole scan with its time split by step: the scanner's own run (the same module object, run
// context, collectors, examinations, lookup client and report writer as vantorag.exe) with every
// phase function, every per-file examination and every lookup batch wrapped in a clock. Takes the
// program's options; prints one line per step and the run's result.
// Usage: scan_phases <vantorag options...>
#include <cstdio>
#include <functional>
#include <memory>

#include "control/file_examiner.h"
#include "control/network_lookup_client.h"
#include "control/scan_run.h"
#include "control/vantorag_module.h"
#include "bench_measure.h"
#include "support/com.h"

namespace {

using namespace kal;
using bench::Seconds;

struct Step {
  const char* name;
  double seconds = 0;
  unsigned long long calls = 0;
};

enum StepIndex { kWalk, kProcesses, kDrivers, kAutoruns, kPhaseSetup, kVersion, kSigner, kHash, kLookups, kReport, kSteps };
Step g_steps[kSteps] = {{"walk and filters"}, {"processes"},        {"drivers"},  {"autoruns"}, {"lookup setup/teardown"},
                        {"version strings"},  {"signer"},           {"hash"},     {"lookups"},  {"report"}};

template <typename F>
auto Timed(StepIndex index, F&& f) {
  struct Clock {
    Step& step;
    double start = Seconds();
    ~Clock() {
      step.seconds += Seconds() - start;
      step.calls += 1;
    }
  } clock{g_steps[index]};
  return f();
}

class CTimedExaminer : public IFileExaminer {
 public:
  void BeginPhase() override { Timed(kPhaseSetup, [&] { inner_.BeginPhase(); }); }
  void EndPhase() override { Timed(kPhaseSetup, [&] { inner_.EndPhase(); }); }
  bool ReadVersionStrings(const std::wstring& path, VersionStrings* out) override {
    return Timed(kVersion, [&] { return inner_.ReadVersionStrings(path, out); });
  }
  std::wstring GetSigner(const std::wstring& path) override {
    return Timed(kSigner, [&] { return inner_.GetSigner(path); });
  }
  HRESULT Hash(const std::wstring& path, uint8_t* sha1, bool* clr) override {
    return Timed(kHash, [&] { return inner_.Hash(path, sha1, clr); });
  }

 private:
  CFileExaminer inner_;
};

class CTimedClient : public ILookupClient {
 public:
  HRESULT Start(bool udp, bool tcp, uint16_t udpPort, uint16_t tcpPort) override {
    return Timed(kPhaseSetup, [&] { return inner_.Start(udp, tcp, udpPort, tcpPort); });
  }
  HRESULT LookupHashes(uint32_t count, const LookupKey* keys, HashVerdict* answers, uint32_t tag, uint32_t mask,
                       uint32_t timeoutMs) override {
    return Timed(kLookups, [&] { return inner_.LookupHashes(count, keys, answers, tag, mask, timeoutMs); });
  }
  HRESULT LookupVendors(uint32_t count, const LookupKey* keys, VendorVerdict* answers, uint32_t tag, uint32_t mask,
                        uint32_t timeoutMs) override {
    return Timed(kLookups, [&] { return inner_.LookupVendors(count, keys, answers, tag, mask, timeoutMs); });
  }
  bool GetStatistics(uint32_t channel, uint64_t* sent, uint64_t* received) override {
    return inner_.GetStatistics(channel, sent, received);
  }
  void Stop() override { Timed(kPhaseSetup, [&] { inner_.Stop(); }); }

 private:
  CNetworkLookupClient inner_;
};

using PhaseFunction = std::function<HRESULT(CRunContext&, CScanItems&)>;

void Wrap(PhaseFunction& phase, StepIndex index) {
  PhaseFunction inner = std::move(phase);
  phase = [inner, index](CRunContext& run, CScanItems& items) { return Timed(index, [&] { return inner(run, items); }); };
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  CvantoragModule module;
  HRESULT exitCode = S_OK;
  if (!module.ParseCommandLine(argc, argv, &exitCode) || module.RunAsService()) {
    std::fprintf(stderr, "scan_phases: give the options of a console scan\n");
    return 2;
  }
  CComInit com;
  if (FAILED(com.Initialize(COINIT_MULTITHREADED))) return 1;

  CTimedExaminer examiner;
  CScanRun run(module.Context(), module.Items(), [] { return std::unique_ptr<ILookupClient>(new CTimedClient()); },
               &examiner);
  CScanRun::Phases& phases = run.PhaseFunctions();
  Wrap(phases.Processes, kProcesses);
  Wrap(phases.Drivers, kDrivers);
  Wrap(phases.Autoruns, kAutoruns);
  Wrap(phases.Scope, kWalk);
  Wrap(phases.Report, kReport);

  const double start = Seconds();
  const HRESULT hr = run.Run();
  const double total = Seconds() - start;

  double accounted = 0;
  for (const Step& step : g_steps) {
    if (step.calls == 0) continue;
    std::printf("step %-22s %8.3f s %8llu calls\n", step.name, step.seconds, step.calls);
    accounted += step.seconds;
  }
  std::printf("step %-22s %8.3f s\n", "rest (loop, state file)", total - accounted);
  std::printf("step %-22s %8.3f s  result 0x%08x, %zu modules\n", "total", total, static_cast<unsigned>(hr),
              module.Items().Modules().size());
  return FAILED(hr) ? 1 : 0;
}
