// Differential fuzzing of the SHA-1 core: the digest in one piece on the best block function must
// equal the digest on the portable block function and the digest fed in pieces whose sizes the
// input itself chooses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <cstring>

#include "analysis/sha1_core.h"

using namespace kal::cryptography;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte seeds the piece sizes; the rest is the message.
  uint32_t seed = data[0] * 2654435761u + 1;
  const uint8_t* message = data + 1;
  const size_t length = size - 1;

  const auto oneShot = Sha1Digest(message, length, Sha1Core::kBest);
  const auto portable = Sha1Digest(message, length, Sha1Core::kPortable);
  if (oneShot != portable) std::abort();

  for (Sha1Core core : {Sha1Core::kBest, Sha1Core::kPortable}) {
    Sha1Context context;
    Sha1Init(&context, core);
    size_t done = 0;
    while (done < length) {
      seed = seed * 1103515245u + 12345u;
      // Mostly short pieces, now and then a long one or an empty one.
      size_t piece = (seed >> 16) % 8 == 0 ? (seed >> 8) % 5000 : (seed >> 16) % 130;
      if (piece > length - done) piece = length - done;
      Sha1Update(&context, message + done, piece);
      done += piece;
    }
    uint8_t digest[kSha1DigestSize];
    Sha1Final(&context, digest);
    if (std::memcmp(digest, oneShot.data(), kSha1DigestSize) != 0) std::abort();
  }
  return 0;
}
