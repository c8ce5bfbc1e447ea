// Prints SHA-1 throughput in MB/s: the built-in hash with the SHA-instruction and the portable
// block functions beside references timed in the same run (libcrypto natively; CryptoAPI and
// whole-file hashing under Windows). Options: --mb=N data per engine (default 1024),
// --reference-mbps=X compares with an outside figure (run.sh passes the native OpenSSL one),
// --large also hashes a sparse file past 4 GiB and checks its digest (Windows).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "analysis/sha1_core.h"

#ifdef _WIN32
#include "analysis/hash_module_file.h"
#include "analysis/sha1.h"
#include "support/handles.h"
#endif
#ifdef VANTORAG_BENCH_OPENSSL
#include <openssl/evp.h>
#endif

namespace {

using kal::cryptography::Sha1Core;

constexpr size_t kBlockBytes = 1 << 20;  // hashed per call, as OpenSSL's "-bytes 1048576"

// The engines are timed in turns, a few MiB at a time, and each keeps its best turn: on a machine
// shared with other work this compares the engines at their least disturbed.
struct Engine {
  const char* name;
  std::function<void()> hashOneMiB;
  double best = 0;  // MB/s (10^6 bytes)
};

void Measure(size_t mb, std::vector<Engine>& engines) {
  constexpr size_t kTurnMiB = 16;
  for (Engine& e : engines) e.hashOneMiB();  // warm-up
  for (size_t done = 0; done < mb; done += kTurnMiB) {
    for (Engine& e : engines) {
      const auto start = std::chrono::steady_clock::now();
      for (size_t i = 0; i < kTurnMiB; ++i) e.hashOneMiB();
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const double mbps = static_cast<double>(kTurnMiB) * kBlockBytes / seconds / 1e6;
      if (mbps > e.best) e.best = mbps;
    }
  }
}

void Print(const char* name, double mbps, double reference, const char* referenceName) {
  if (reference > 0)
    std::printf("%-34s %8.0f MB/s   %.2fx %s\n", name, mbps, mbps / reference, referenceName);
  else
    std::printf("%-34s %8.0f MB/s\n", name, mbps);
}

#ifdef _WIN32
// A temporary file of `mb` MiB, removed at the end.
class CBenchFile {
 public:
  CBenchFile(size_t mb, const std::vector<uint8_t>& block) {
    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    path_ = std::wstring(folder) + L"vantorag_sha1_bench.bin";
    kal::CFileHandle file(::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    for (size_t i = 0; i < mb; ++i)
      ::WriteFile(file.Get(), block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
  }
  ~CBenchFile() { ::DeleteFileW(path_.c_str()); }
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_;
};

// Best of three timed calls of `hashFile` over a file of `mb` MiB (page cache warm); MB/s.
double MeasureFile(size_t mb, const std::function<HRESULT()>& hashFile) {
  double best = 0;
  for (int turn = 0; turn < 4; ++turn) {
    const auto start = std::chrono::steady_clock::now();
    const HRESULT hr = hashFile();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (FAILED(hr)) {
      std::printf("hashing the file failed: 0x%08lx\n", static_cast<unsigned long>(hr));
      return 0;
    }
    const double mbps = static_cast<double>(mb) * kBlockBytes / seconds / 1e6;
    if (turn > 0 && mbps > best) best = mbps;  // the first call warms the cache
  }
  return best;
}

// A sparse file of 4 GiB + 66313 bytes with text before and after the 4 GiB mark; its digest was
// computed separately over the same layout.
int CheckLargeFile() {
  wchar_t folder[MAX_PATH];
  ::GetTempPathW(MAX_PATH, folder);
  const std::wstring path = std::wstring(folder) + L"vantorag_sha1_large.bin";
  const uint64_t size = (uint64_t{1} << 32) + 65536 + 777;
  {
    kal::CFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ::WriteFile(file.Get(), "head of a large file", 20, &written, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>((uint64_t{1} << 32) + 12345);
    ::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN);
    ::WriteFile(file.Get(), "tail of a large file", 20, &written, nullptr);
    at.QuadPart = static_cast<LONGLONG>(size);
    ::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN);
    ::SetEndOfFile(file.Get());
  }
  static const uint8_t kExpected[20] = {0x7D, 0x7D, 0x3F, 0x38, 0x10, 0xF5, 0xFD,
                                        0xA5, 0xE2, 0xBD, 0xF2, 0x8B, 0x43, 0x4A,
                                        0x5A, 0xB2, 0xDD, 0x43, 0x42, 0x7D};
  uint8_t digest[20] = {};
  bool clr = true;
  const auto start = std::chrono::steady_clock::now();
  const HRESULT hr = kal::cryptography::HashModuleFile(path, 0, digest, sizeof(digest), &clr);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::DeleteFileW(path.c_str());
  const bool right = hr == S_OK && std::memcmp(digest, kExpected, 20) == 0;
  std::printf("sparse file of %llu bytes: 0x%08lx, digest %s, %.1f s (%.0f MB/s)\n",
              static_cast<unsigned long long>(size), static_cast<unsigned long>(hr),
              right ? "right" : "WRONG", seconds, static_cast<double>(size) / seconds / 1e6);
  return right ? 0 : 1;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  size_t mb = 1024;
  double outsideReference = 0;
  bool large = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--mb=", 5) == 0) mb = std::strtoul(argv[i] + 5, nullptr, 10);
    else if (std::strncmp(argv[i], "--reference-mbps=", 17) == 0)
      outsideReference = std::strtod(argv[i] + 17, nullptr);
    else if (std::strcmp(argv[i], "--large") == 0)
      large = true;
  }

  std::vector<uint8_t> block(kBlockBytes);
  uint32_t seed = 2463534242u;
  for (uint8_t& b : block) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    b = static_cast<uint8_t>(seed);
  }
  std::printf("SHA-1 over %zu MiB per engine, %zu bytes per call; SHA instructions: %s\n", mb,
              kBlockBytes, kal::cryptography::Sha1HasShaInstructions() ? "yes" : "no");

  volatile uint8_t sink = 0;
  std::vector<Engine> engines;
  auto core = [&](Sha1Core which) {
    return [&, which] {
      sink = sink ^ kal::cryptography::Sha1Digest(block.data(), block.size(), which)[0];
    };
  };
  engines.push_back({"built-in core, best block function", core(Sha1Core::kBest)});
  engines.push_back({"built-in core, portable", core(Sha1Core::kPortable)});
#ifdef VANTORAG_BENCH_OPENSSL
  engines.push_back({"OpenSSL EVP SHA-1 (same process)", [&] {
                       unsigned char digest[EVP_MAX_MD_SIZE];
                       unsigned int length = 0;
                       EVP_Digest(block.data(), block.size(), digest, &length, EVP_sha1(),
                                  nullptr);
                       sink = sink ^ digest[0];
                     }});
#endif
#ifdef _WIN32
  engines.push_back({"SHA1 object (guarded)", [&] {
                       kal::cryptography::SHA1 sha;
                       sha.HashData(block.data(), block.size());
                       uint8_t digest[20];
                       sha.GetHash(digest);
                       sink = sink ^ digest[0];
                     }});
  kal::CCryptProv provider;
  if (::CryptAcquireContextW(provider.Put(), nullptr, MS_DEF_PROV_W, PROV_RSA_FULL,
                             CRYPT_VERIFYCONTEXT)) {
    engines.push_back({"CryptoAPI SHA-1", [&] {
                         kal::CCryptHash hash;
                         ::CryptCreateHash(provider.Get(), CALG_SHA1, 0, 0, hash.Put());
                         ::CryptHashData(hash.Get(), block.data(),
                                         static_cast<DWORD>(block.size()), 0);
                         BYTE digest[20];
                         DWORD length = sizeof(digest);
                         ::CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &length, 0);
                         sink = sink ^ digest[0];
                       }});
  } else {
    std::printf("CryptoAPI context: error %lu\n", static_cast<unsigned long>(::GetLastError()));
  }
#endif
  Measure(mb, engines);

  double reference = outsideReference;
  const char* referenceName = "of OpenSSL (given)";
#ifdef VANTORAG_BENCH_OPENSSL
  reference = engines[2].best;
  referenceName = "of OpenSSL";
  std::printf("openssl_mbps=%.0f\n", reference);
#endif
  if (outsideReference > 0) Print("OpenSSL (given)", outsideReference, 0, "");
  for (const Engine& e : engines) Print(e.name, e.best, reference, referenceName);
#ifdef _WIN32
  if (engines.size() > 3)
    std::printf("%-34s %8.2fx\n", "built-in best / CryptoAPI", engines[0].best / engines[3].best);
  const size_t fileMb = mb < 256 ? mb : 256;
  const CBenchFile file(fileMb, block);
  uint8_t digest[20];
  bool clr = false;
  Print("HashModuleFile, built-in", MeasureFile(fileMb, [&] {
          return kal::cryptography::HashModuleFile(file.Path(), 0, digest, 20, &clr);
        }), reference, referenceName);
  if (provider)
    Print("HashModuleFile, CryptoAPI", MeasureFile(fileMb, [&] {
            return kal::cryptography::HashModuleFile(file.Path(), provider.Get(), digest, 20, &clr);
          }), reference, referenceName);
  Print("SHA1::HashFile (2048-byte reads)", MeasureFile(fileMb, [&] {
          kal::cryptography::SHA1 sha;
          return sha.HashFile(file.Path().c_str());
        }), reference, referenceName);
  if (large) return CheckLargeFile();
#endif
  return 0;  // the volatile sink kept every digest computed
}
