// The built-in SHA1 through the hash interface: known answers, the slot contracts, file and text
// hashing, and the fault guard keeping what was absorbed before a fault.
#include "analysis/sha1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/fault_guard.h"
#include "test_support/temp_dir.h"

namespace kal::cryptography {
namespace {

std::wstring Upper(const char* hex) { return std::wstring(hex, hex + std::strlen(hex)); }

std::wstring HexOf(const std::array<uint8_t, kSha1DigestSize>& digest) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text;
  for (uint8_t b : digest) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

struct CoreCase {
  const char* name;
  Sha1Core core;
};
const CoreCase kCores[] = {{"best", Sha1Core::kBest}, {"portable", Sha1Core::kPortable}};

// Normal: the FIPS 180-4 examples through HashData, in upper-case hexadecimal.
TEST(Sha1, KnownAnswers) {
  struct Vector {
    const char* name;
    std::string message;
    const char* digest;
  };
  const Vector vectors[] = {
      {"empty", "", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
      {"abc", "abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
      {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
      {"896 bits",
       "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
       "opqrsmnopqrstnopqrstu",
       "A49B2446A02C645BF419F995B67091253A04A259"},
      {"million a", std::string(1000000, 'a'), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
  };
  for (const CoreCase& core : kCores) {
    for (const Vector& v : vectors) {
      SCOPED_TRACE(testing::Message() << core.name << ": " << v.name);
      SHA1 sha(core.core);
      sha.HashData(v.message.data(), v.message.size());
      EXPECT_EQ(Upper(v.digest), sha.GetHashString());
    }
  }
}

// Streaming in odd pieces gives the one-shot digest.
TEST(Sha1, UnevenUpdates) {
  std::string message;
  for (int i = 0; i < 70000; ++i) message += static_cast<char>(i * 7 + (i >> 8));
  const std::wstring expected = HexOf(Sha1Digest(message.data(), message.size()));
  for (const CoreCase& core : kCores) {
    for (size_t piece : {size_t{1}, size_t{13}, size_t{63}, size_t{65}, size_t{4099}}) {
      SCOPED_TRACE(testing::Message() << core.name << ", pieces of " << piece);
      SHA1 sha(core.core);
      for (size_t at = 0; at < message.size(); at += piece)
        sha.Update(message.data() + at, std::min(piece, message.size() - at));
      sha.Final();
      EXPECT_EQ(expected, sha.GetHashString());
    }
  }
}

// The slot contracts: what a call must leave alone.
TEST(Sha1, Contracts) {
  const std::wstring abc = L"A9993E364706816ABA3E25717850C26C9CD0D89D";
  SHA1 sha;
  EXPECT_EQ(20u, sha.GetHashSize());

  // GetHash before Final leaves the output untouched; null output is ignored.
  std::vector<uint8_t> out(21, 0xBD);
  sha.Update("abc", 3);
  sha.GetHash(out.data());
  EXPECT_EQ(std::vector<uint8_t>(21, 0xBD), out);
  sha.GetHash(nullptr);

  // Null data is ignored; Final finishes once.
  sha.Update(nullptr, 100);
  sha.Final();
  sha.GetHash(out.data());
  EXPECT_EQ(0xBD, out[20]) << "GetHash wrote past 20 bytes";
  EXPECT_EQ(abc, sha.GetHashString());

  // Update after Final and a second Final change nothing.
  sha.Update("more", 4);
  sha.Final();
  EXPECT_EQ(abc, sha.GetHashString());

  // Reset clears the digest and the finished mark.
  sha.Reset();
  std::vector<uint8_t> untouched(20, 0xBD);
  sha.GetHash(untouched.data());
  EXPECT_EQ(std::vector<uint8_t>(20, 0xBD), untouched);
  sha.HashData("abc", 3);
  EXPECT_EQ(abc, sha.GetHashString());
}

// The text is hashed as its UTF-16 bytes, 2 per character.
TEST(Sha1, HashStringHashesUtf16) {
  SHA1 sha;
  sha.HashString(L"abc", 3);
  EXPECT_EQ(L"9F04F41A848514162050E3D68C1A7ABB441DC2B5", sha.GetHashString());
}

TEST(Sha1, HashFile) {
  test::CTempDir dir;
  // Sizes around the 2048-byte read piece.
  for (size_t size : {size_t{0}, size_t{1}, size_t{2048}, size_t{2049}, size_t{10000}}) {
    SCOPED_TRACE(size);
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 31 + 5);
    const std::wstring path = dir.WriteFile(L"f" + std::to_wstring(size), content);
    SHA1 sha;
    EXPECT_EQ(S_OK, sha.HashFile(path.c_str()));
    EXPECT_EQ(HexOf(Sha1Digest(content.data(), content.size())), sha.GetHashString());
  }

  // A file that can't be opened: its HRESULT, and the hash stays unfinished.
  SHA1 sha;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
            sha.HashFile((dir.Path() + L"\\missing").c_str()));
  std::vector<uint8_t> out(20, 0xBD);
  sha.GetHash(out.data());
  EXPECT_EQ(std::vector<uint8_t>(20, 0xBD), out);
}

// Pages of which the last can't be read, as a mapped file whose backing store failed.
class UnreadableTail {
 public:
  explicit UnreadableTail(size_t readablePages) : readable_(readablePages * kPage) {
    base_ = static_cast<uint8_t*>(
        ::VirtualAlloc(nullptr, readable_ + kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    for (size_t i = 0; i < readable_; ++i) base_[i] = static_cast<uint8_t>(i * 13 + (i >> 9));
    DWORD old = 0;
    ::VirtualProtect(base_ + readable_, kPage, PAGE_NOACCESS, &old);
  }
  ~UnreadableTail() { ::VirtualFree(base_, 0, MEM_RELEASE); }
  const uint8_t* Data() const { return base_; }
  size_t Readable() const { return readable_; }
  size_t All() const { return readable_ + kPage; }

 private:
  static constexpr size_t kPage = 4096;
  uint8_t* base_;
  size_t readable_;
};

TEST(Sha1, FaultInUpdateKeepsWhatCameBefore) {
  UnreadableTail view(3);
  ASSERT_NE(nullptr, view.Data());
  for (const CoreCase& core : kCores) {
    SCOPED_TRACE(core.name);
    SHA1 sha(core.core);
    sha.Update(view.Data(), view.All());
    EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), sha.FaultCode());
    // The hash goes on from the readable pages: later input and Final still count.
    sha.Update("tail", 4);
    sha.Final();
    std::string expected(reinterpret_cast<const char*>(view.Data()), view.Readable());
    expected += "tail";
    EXPECT_EQ(HexOf(Sha1Digest(expected.data(), expected.size())), sha.GetHashString());

    // The object is whole again after Reset, and the guard catches a second fault.
    sha.Reset();
    EXPECT_EQ(0u, sha.FaultCode());
    sha.Update(view.Data() + 1, view.All() - 1);
    EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), sha.FaultCode());
  }
}

// A handler behind the guard's that continues after the test's own exception codes and counts
// them: it shows which exceptions the guard let through.
LONG g_seen = 0;
LONG CALLBACK CountAndContinue(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if (code != 0xE0001234u && code != 0xC0001234u && code != 0x40001234u)
    return EXCEPTION_CONTINUE_SEARCH;
  ::InterlockedIncrement(&g_seen);
  return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(FaultGuard, CatchesErrorsOnlyInsideGuardedCalls) {
  int reached = 0;
  EXPECT_EQ(0u, RunFaultGuarded([](void* p) { ++*static_cast<int*>(p); }, &reached));
  EXPECT_EQ(1, reached);

  void* counter = ::AddVectoredExceptionHandler(0, CountAndContinue);
  ASSERT_NE(nullptr, counter);
  struct Row {
    const char* name;
    DWORD code;
    bool guarded;
    DWORD result;  // of RunFaultGuarded
    LONG seen;     // by the handler behind the guard
  };
  const Row rows[] = {
      {"error outside a guard", 0xC0001234u, false, 0, 1},
      {"error inside a guard", 0xC0001234u, true, 0xC0001234u, 0},
      {"informational inside a guard", 0x40001234u, true, 0, 1},
      {"customer code inside a guard", 0xE0001234u, true, 0, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    g_seen = 0;
    DWORD code = row.code;
    auto raise = [](void* p) { ::RaiseException(*static_cast<DWORD*>(p), 0, 0, nullptr); };
    if (row.guarded) {
      EXPECT_EQ(row.result, RunFaultGuarded(raise, &code));
    } else {
      raise(&code);
    }
    EXPECT_EQ(row.seen, g_seen);
  }
  ::RemoveVectoredExceptionHandler(counter);

  // Nested guards: an inner fault returns to the inner guard only.
  struct Nested {
    DWORD inner;
    int after;
  } nested{0, 0};
  EXPECT_EQ(0u, RunFaultGuarded(
                    [](void* p) {
                      Nested* n = static_cast<Nested*>(p);
                      n->inner = RunFaultGuarded(
                          [](void*) { *static_cast<volatile int*>(nullptr) = 1; }, nullptr);
                      n->after = 1;
                    },
                    &nested));
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), nested.inner);
  EXPECT_EQ(1, nested.after);
}

}  // namespace
}  // namespace kal::cryptography
