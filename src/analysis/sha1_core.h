// The SHA-1 digest (FIPS 180-4) as plain portable code: an incremental context and a one-shot
// helper. The block function is picked once per context: the processor's SHA instructions when
// it has them, else the portable one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kal::cryptography {

constexpr size_t kSha1DigestSize = 20;
constexpr size_t kSha1BlockSize = 64;

// Absorbs `blocks` whole 64-byte blocks into the five chaining words.
using Sha1BlockFunction = void (*)(uint32_t state[5], const uint8_t* data, size_t blocks);

enum class Sha1Core {
  kBest,      // the SHA instructions when the processor has them, else portable
  kPortable,  // always the portable block function
};

// The chaining words, the message length in bits (low, high), the block buffer and the number
// of bytes waiting in it. Every field is consistent after each block step, so a caller that
// abandons an update part-way (a fault while reading the input) keeps a usable state.
struct Sha1Context {
  uint32_t state[5];
  uint32_t lengthLow;
  uint32_t lengthHigh;
  uint8_t buffer[kSha1BlockSize];
  uint32_t bufferSize;
  Sha1BlockFunction blocks;
};

void Sha1Init(Sha1Context* context, Sha1Core core = Sha1Core::kBest);
void Sha1Update(Sha1Context* context, const void* data, size_t size);
// Pads, writes the digest (the five words big-endian) and leaves the context spent: call
// Sha1Init before reusing it.
void Sha1Final(Sha1Context* context, uint8_t digest[kSha1DigestSize]);

std::array<uint8_t, kSha1DigestSize> Sha1Digest(const void* data, size_t size,
                                                Sha1Core core = Sha1Core::kBest);

// Whether this processor can run the SHA-instruction block function.
bool Sha1HasShaInstructions();

// The individual block functions, for tests and benchmarks that compare them.
void Sha1BlocksPortable(uint32_t state[5], const uint8_t* data, size_t blocks);
// Only callable when Sha1HasShaInstructions() is true; null on targets without it.
extern const Sha1BlockFunction kSha1BlocksShaInstructions;

}  // namespace kal::cryptography
