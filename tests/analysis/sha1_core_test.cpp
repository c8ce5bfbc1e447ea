// Known answers for the SHA-1 core, on the portable block function and on the SHA instructions,
// fed in one piece and in uneven pieces.
#include "analysis/sha1_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kal::cryptography {
namespace {

std::string Hex(const uint8_t* digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < kSha1DigestSize; ++i) {
    text += kDigits[digest[i] >> 4];
    text += kDigits[digest[i] & 15];
  }
  return text;
}

struct Vector {
  const char* name;
  std::string message;
  const char* digest;
};

// FIPS 180-4 examples plus lengths around the padding boundary (55, 56, 63, 64 bytes), whose
// digests were computed with a separate implementation.
std::vector<Vector> Vectors() {
  return {
      {"empty", "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {"896 bits",
       "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
       "opqrsmnopqrstnopqrstu",
       "a49b2446a02c645bf419f995b67091253a04a259"},
      {"million a", std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {"55 bytes", std::string(55, 'x'), "cef734ba81a024479e09eb5a75b6ddae62e6abf1"},
      {"56 bytes", std::string(56, 'x'), "901305367c259952f4e7af8323f480d59f81335b"},
      {"63 bytes", std::string(63, 'x'), "0ddc4e0cccd9a12850deb5abb0853a4425559fec"},
      {"64 bytes", std::string(64, 'x'), "bb2fa3ee7afb9f54c6dfb5d021f14b1ffe40c163"},
  };
}

struct CoreCase {
  const char* name;
  Sha1Core core;
};

class Sha1CoreTest : public testing::TestWithParam<CoreCase> {
 protected:
  void SetUp() override {
    if (GetParam().core == Sha1Core::kBest && !Sha1HasShaInstructions())
      GTEST_SKIP() << "this processor has no SHA instructions";
  }
};

TEST_P(Sha1CoreTest, KnownAnswersInOnePiece) {
  for (const Vector& v : Vectors()) {
    SCOPED_TRACE(v.name);
    EXPECT_EQ(v.digest, Hex(Sha1Digest(v.message.data(), v.message.size(), GetParam().core).data()));
  }
}

TEST_P(Sha1CoreTest, KnownAnswersInUnevenPieces) {
  // Piece sizes that straddle the block buffer in every way, including empty pieces and pieces
  // longer than one absorbing step.
  const size_t pieceSizes[] = {1, 3, 7, 63, 64, 65, 127, 4095, 4097, 10007};
  for (const Vector& v : Vectors()) {
    for (size_t piece : pieceSizes) {
      SCOPED_TRACE(testing::Message() << v.name << ", pieces of " << piece);
      Sha1Context context;
      Sha1Init(&context, GetParam().core);
      size_t done = 0;
      for (size_t turn = 0; done < v.message.size(); ++turn) {
        // Every third piece is empty; the others alternate between piece and piece/2+1.
        const size_t want = turn % 3 == 2 ? 0 : (turn % 2 == 0 ? piece : piece / 2 + 1);
        const size_t take = std::min(want, v.message.size() - done);
        Sha1Update(&context, v.message.data() + done, take);
        done += take;
      }
      uint8_t digest[kSha1DigestSize];
      Sha1Final(&context, digest);
      EXPECT_EQ(v.digest, Hex(digest));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cores, Sha1CoreTest,
                         testing::Values(CoreCase{"Portable", Sha1Core::kPortable},
                                         CoreCase{"ShaInstructions", Sha1Core::kBest}),
                         [](const testing::TestParamInfo<CoreCase>& info) {
                           return std::string(info.param.name);
                         });

// The two block functions agree on every block count, including long runs.
TEST(Sha1Core, BlockFunctionsAgree) {
  if (!Sha1HasShaInstructions()) GTEST_SKIP() << "this processor has no SHA instructions";
  std::vector<uint8_t> data(64 * 300);
  uint32_t seed = 12345;
  for (uint8_t& b : data) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  for (size_t blocks : {size_t{1}, size_t{2}, size_t{17}, size_t{300}}) {
    SCOPED_TRACE(blocks);
    uint32_t portable[5] = {1, 2, 3, 4, 0xFFFFFFFFu};
    uint32_t instructions[5] = {1, 2, 3, 4, 0xFFFFFFFFu};
    Sha1BlocksPortable(portable, data.data(), blocks);
    kSha1BlocksShaInstructions(instructions, data.data(), blocks);
    EXPECT_EQ(std::vector<uint32_t>(portable, portable + 5),
              std::vector<uint32_t>(instructions, instructions + 5));
  }
}

}  // namespace
}  // namespace kal::cryptography
