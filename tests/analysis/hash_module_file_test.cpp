// HashModuleFile with the built-in SHA-1 and with a CryptoAPI context: the same digests for every
// file, the CLR flag, files that must count as failures, and files hashed through several views.
#include "analysis/hash_module_file.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "analysis/hash_provider.h"
#include "analysis/sha1_core.h"
#include "pe_image_builder.h"
#include "test_support/temp_dir.h"

namespace kal::cryptography {
namespace {

using Digest = std::array<uint8_t, kSha1DigestSize>;

std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i * 131 + (i >> 11));
  return s;
}

Digest Expected(const std::string& content) { return Sha1Digest(content.data(), content.size()); }

class HashModuleFileTest : public testing::Test {
 protected:
  // The default key container must exist before the context can be acquired the way the lookup
  // phase acquires it; a fresh machine has none.
  static void SetUpTestSuite() {
    HCRYPTPROV created = 0;
    if (::CryptAcquireContextW(&created, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET))
      ::CryptReleaseContext(created, 0);
  }

  void SetUp() override { ASSERT_EQ(S_OK, AcquireHashProvider(&provider_)); }

  struct Engine {
    const char* name;
    HCRYPTPROV provider;
  };
  std::vector<Engine> Engines() const { return {{"built-in", 0}, {"provider", provider_.Get()}}; }

  test::CTempDir dir_;
  CCryptProv provider_;
};

// Normal: both engines, whole-file and small views, give the file's SHA-1 and its CLR flag.
TEST_F(HashModuleFileTest, BothEnginesGiveTheSameDigest) {
  testing_pe::ImageLayout pe32Clr;
  pe32Clr.clrVirtualAddress = 0x2008;
  testing_pe::ImageLayout pe32Native;
  testing_pe::ImageLayout plusClr;
  plusClr.magic = 0x20B;
  plusClr.clrVirtualAddress = 0x2008;
  plusClr.fileSize = 200000;  // spans several 64 KiB views
  testing_pe::ImageLayout plusNative;
  plusNative.magic = 0x20B;

  struct FileCase {
    const char* name;
    std::string content;
    bool clr;
  };
  const FileCase files[] = {
      {"one byte", "x", false},
      {"64 bytes", Pattern(64), false},
      {"one view and a byte", Pattern(65537), false},
      {"several views", Pattern(3 * 65536 + 4095), false},
      {"PE32 .NET", Bytes(testing_pe::BuildImage(pe32Clr)), true},
      {"PE32 native", Bytes(testing_pe::BuildImage(pe32Native)), false},
      {"PE32+ .NET", Bytes(testing_pe::BuildImage(plusClr)), true},
      {"PE32+ native", Bytes(testing_pe::BuildImage(plusNative)), false},
  };
  int n = 0;
  for (const FileCase& file : files) {
    const std::wstring path = dir_.WriteFile(L"file" + std::to_wstring(n++), file.content);
    for (const Engine& engine : Engines()) {
      for (size_t viewBytes : {kHashViewBytes, size_t{65536}}) {
        SCOPED_TRACE(testing::Message() << file.name << ", " << engine.name << ", views of "
                                        << viewBytes);
        Digest digest;
        digest.fill(0xBD);
        bool clr = !file.clr;
        EXPECT_EQ(S_OK, HashModuleFile(path, engine.provider, digest.data(), digest.size(), &clr,
                                       viewBytes));
        EXPECT_EQ(Expected(file.content), digest);
        EXPECT_EQ(file.clr, clr);
      }
    }
  }
}

// Files that count as hash failures: the HRESULT of the failing call, digest and CLR flag left
// alone because the file was never mapped.
TEST_F(HashModuleFileTest, FilesThatCannotBeHashed) {
  const std::wstring empty = dir_.WriteFile(L"empty", "");
  const std::wstring busy = dir_.WriteFile(L"busy", "held open for writing");
  // Another writer, sharing read and write: our open, which shares reading only, is refused.
  CFileHandle writer(::CreateFileW(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer.IsValid());

  struct FailCase {
    const char* name;
    std::wstring path;
    HRESULT expected;
  };
  const FailCase cases[] = {
      {"empty file", empty, HRESULT_FROM_WIN32(ERROR_FILE_INVALID)},
      {"open for writing elsewhere", busy, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)},
      {"missing file", dir_.Path() + L"\\missing", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      {"folder", dir_.Path(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
  };
  for (const FailCase& c : cases) {
    for (const Engine& engine : Engines()) {
      SCOPED_TRACE(testing::Message() << c.name << ", " << engine.name);
      Digest digest;
      digest.fill(0xBD);
      bool clr = true;
      EXPECT_EQ(c.expected, HashModuleFile(c.path, engine.provider, digest.data(), digest.size(),
                                           &clr));
      Digest untouched;
      untouched.fill(0xBD);
      EXPECT_EQ(untouched, digest);
      EXPECT_TRUE(clr);
    }
  }
}

// A digest buffer that is too small is an error, not a success with nothing written; the CLR
// flag is already set by then.
TEST_F(HashModuleFileTest, SmallDigestBuffer) {
  testing_pe::ImageLayout layout;
  layout.clrVirtualAddress = 0x2008;
  const std::wstring path = dir_.WriteFile(L"clr", Bytes(testing_pe::BuildImage(layout)));
  for (const Engine& engine : Engines()) {
    SCOPED_TRACE(engine.name);
    uint8_t digest[kSha1DigestSize];
    std::fill(std::begin(digest), std::end(digest), 0xBD);
    bool clr = false;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
              HashModuleFile(path, engine.provider, digest, 19, &clr));
    EXPECT_EQ(0xBD, digest[0]);
    EXPECT_TRUE(clr);
    EXPECT_EQ(E_POINTER, HashModuleFile(path, engine.provider, nullptr, 20, &clr));
  }
}

}  // namespace
}  // namespace kal::cryptography
