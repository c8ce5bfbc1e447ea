// Per-file cost of the lookup phase's version strings and signer, over the signature test fixtures
// (an unsigned, a signed and a tampered copy of one small program): the signer with the catalogs
// off, and with them on for a file no catalog lists (a catalog miss); the SHA-1 of the same file
// beside them, and what the three together project for a scan of 10,000 such files. Then the
// signing worker's hand-off (submit to answer, for a job that finds nothing at once), and the
// cost of the first and of the last thousand of 10,000 signer requests, which must not grow.
// Usage: signers_bench [--fixtures=<folder with unsigned.exe, signed.exe, tampered.exe>] [--rounds=<n>]
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

#include "bench_measure.h"
#include "analysis/embedded_signature.h"
#include "analysis/hash_module_file.h"
#include "analysis/signing_worker.h"
#include "analysis/version_info.h"

namespace {

using namespace kal;
using namespace kal::bench;
using namespace kal::cryptography;

std::wstring DefaultFixtures() {
  wchar_t self[MAX_PATH] = {};
  std::wstring folder(self, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
  folder.resize(folder.find_last_of(L'\\') + 1);
  return folder + L"..\\..\\tests\\analysis\\signed\\";
}

template <typename Body>
double MicrosecondsPerCall(int rounds, Body body) {
  body();  // the first call loads what the call needs
  const double start = Seconds();
  for (int i = 0; i < rounds; ++i) body();
  return (Seconds() - start) * 1e6 / rounds;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring fixtures = DefaultFixtures();
  int rounds = 300;
  for (int i = 1; i < argc; ++i) {
    if (std::wcsncmp(argv[i], L"--fixtures=", 11) == 0) {
      fixtures = argv[i] + 11;
      if (!fixtures.empty() && fixtures.back() != L'\\') fixtures += L'\\';
    } else if (std::wcsncmp(argv[i], L"--rounds=", 9) == 0) {
      rounds = std::max(1, static_cast<int>(std::wcstol(argv[i] + 9, nullptr, 10)));
    } else {
      std::fwprintf(stderr, L"usage: signers_bench [--fixtures=<folder>] [--rounds=<n>]\n");
      return 2;
    }
  }
  const std::wstring unsignedFile = fixtures + L"unsigned.exe";
  const std::wstring signedFile = fixtures + L"signed.exe";
  const std::wstring tamperedFile = fixtures + L"tampered.exe";
  if (::GetFileAttributesW(signedFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::fwprintf(stderr, L"signers_bench: no fixtures in %ls (build the tests first)\n", fixtures.c_str());
    return 1;
  }

  CSigningWorker::Sources off = CSigningWorker::PlatformSources();
  off.serviceCheck = [] { return false; };
  CSigningWorker withoutCatalogs(off);
  CSigningWorker::Sources on = CSigningWorker::PlatformSources();
  on.serviceCheck = [] { return true; };
  CSigningWorker withCatalogs(on);
  withCatalogs.Start();
  while (!withCatalogs.CatalogsAvailable()) ::Sleep(1);

  uint8_t digest[20];
  bool clr = false;
  const double version = MicrosecondsPerCall(rounds, [&] { ReadVersionInfo(unsignedFile); });
  const double unsignedCost = MicrosecondsPerCall(rounds, [&] { withoutCatalogs.GetFileSigner(unsignedFile); });
  const double signedCost = MicrosecondsPerCall(rounds, [&] { withoutCatalogs.GetFileSigner(signedFile); });
  const double tamperedCost = MicrosecondsPerCall(rounds, [&] { withoutCatalogs.GetFileSigner(tamperedFile); });
  const double missCost = MicrosecondsPerCall(rounds, [&] { withCatalogs.GetFileSigner(unsignedFile); });
  const double hash = MicrosecondsPerCall(rounds, [&] { HashModuleFile(unsignedFile, 0, digest, 20, &clr); });

  std::wprintf(L"per file (us), %d rounds, fixture of %ls\n", rounds, unsignedFile.c_str());
  std::wprintf(L"  version strings              %10.1f\n", version);
  std::wprintf(L"  signer, unsigned             %10.1f\n", unsignedCost);
  std::wprintf(L"  signer, signed (verified)    %10.1f\n", signedCost);
  std::wprintf(L"  signer, tampered             %10.1f\n", tamperedCost);
  std::wprintf(L"  signer, unsigned, catalog miss %8.1f\n", missCost);
  std::wprintf(L"  SHA-1 of the same file       %10.1f\n", hash);
  struct Mix {
    const wchar_t* name;
    double signer;
  };
  const Mix mixes[] = {{L"unsigned", unsignedCost}, {L"signed", signedCost}, {L"catalog miss", missCost}};
  std::wprintf(L"10,000 files: version + signer (s), share of version + signer + SHA-1\n");
  for (const Mix& mix : mixes) {
    const double analysis = version + mix.signer;
    std::wprintf(L"  %-14ls %8.2f s   %5.1f %%\n", mix.name, analysis * 1e4 / 1e6, 100.0 * analysis / (analysis + hash));
  }

  // Hand-off: a job for a missing file, which every source rejects at its first call.
  const std::wstring missing = fixtures + L"no_such_file.exe";
  std::wstring signer;
  const double direct = MicrosecondsPerCall(rounds * 10, [&] { ReadEmbeddedSignerName(missing); });
  const double submitted =
      MicrosecondsPerCall(rounds * 10, [&] { withoutCatalogs.SubmitSignerJob(missing, false, &signer); });
  std::wprintf(L"hand-off: submit to answer %.1f us (the job itself %.1f us, so %.1f us in the queue)\n", submitted,
               direct, submitted - direct);

  // Growth: the first and the last thousand of 10,000 requests.
  double blocks[10];
  for (int block = 0; block < 10; ++block) {
    const double start = Seconds();
    for (int i = 0; i < 1000; ++i) withoutCatalogs.GetFileSigner(unsignedFile);
    blocks[block] = (Seconds() - start) * 1e3;
  }
  std::wprintf(L"10,000 unsigned requests: first thousand %.1f us/file, last thousand %.1f us/file\n", blocks[0],
               blocks[9]);
  return 0;
}
