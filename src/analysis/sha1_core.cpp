// The portable SHA-1 block function, the incremental context and the one-shot digest.
#include "analysis/sha1_core.h"

#include <cstring>

namespace kal::cryptography {
namespace {

// Input is absorbed in steps of this many bytes (a page), and the context is brought up to date
// after each step: when reading the input faults, everything before the faulting step is kept.
constexpr size_t kStepBlocks = 4096 / kSha1BlockSize;

inline uint32_t Rotl(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline void StoreBigEndian(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

void AddLength(Sha1Context* context, uint64_t bytes) {
  const uint64_t bits =
      ((uint64_t{context->lengthHigh} << 32) | context->lengthLow) + (bytes << 3);
  context->lengthLow = static_cast<uint32_t>(bits);
  context->lengthHigh = static_cast<uint32_t>(bits >> 32);
}

void AbsorbBlocks(Sha1Context* context, const uint8_t* data, size_t blocks) {
  while (blocks != 0) {
    const size_t step = blocks < kStepBlocks ? blocks : kStepBlocks;
    context->blocks(context->state, data, step);
    AddLength(context, uint64_t{step} * kSha1BlockSize);
    data += step * kSha1BlockSize;
    blocks -= step;
  }
}

}  // namespace

// Rounds written out with the roles of a..e rotating, so no words are moved between rounds; the
// 16-word schedule is computed in place.
#define SHA1_W(i) \
  (w[(i) & 15] = Rotl(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i) & 15], 1))
#define SHA1_ROUND(a, b, c, d, e, f, k, wi) \
  do {                                       \
    e += Rotl(a, 5) + (f) + (k) + (wi);      \
    b = Rotl(b, 30);                         \
  } while (0)
#define SHA1_F0(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define SHA1_F1(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_F2(b, c, d) (((b) & (c)) | ((d) & ((b) | (c))))

#define SHA1_R0(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, SHA1_F0(b, c, d), 0x5A827999u, w[i])
#define SHA1_R1(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, SHA1_F0(b, c, d), 0x5A827999u, SHA1_W(i))
#define SHA1_R2(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, SHA1_F1(b, c, d), 0x6ED9EBA1u, SHA1_W(i))
#define SHA1_R3(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, SHA1_F2(b, c, d), 0x8F1BBCDCu, SHA1_W(i))
#define SHA1_R4(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, SHA1_F1(b, c, d), 0xCA62C1D6u, SHA1_W(i))

#define SHA1_FIVE(R, i)          \
  R(a, b, c, d, e, (i) + 0);     \
  R(e, a, b, c, d, (i) + 1);     \
  R(d, e, a, b, c, (i) + 2);     \
  R(c, d, e, a, b, (i) + 3);     \
  R(b, c, d, e, a, (i) + 4)

void Sha1BlocksPortable(uint32_t state[5], const uint8_t* data, size_t blocks) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (; blocks != 0; --blocks, data += kSha1BlockSize) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(data + 4 * i);
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;
    SHA1_FIVE(SHA1_R0, 0);
    SHA1_FIVE(SHA1_R0, 5);
    SHA1_FIVE(SHA1_R0, 10);
    SHA1_R0(a, b, c, d, e, 15);
    SHA1_R1(e, a, b, c, d, 16);
    SHA1_R1(d, e, a, b, c, 17);
    SHA1_R1(c, d, e, a, b, 18);
    SHA1_R1(b, c, d, e, a, 19);
    SHA1_FIVE(SHA1_R2, 20);
    SHA1_FIVE(SHA1_R2, 25);
    SHA1_FIVE(SHA1_R2, 30);
    SHA1_FIVE(SHA1_R2, 35);
    SHA1_FIVE(SHA1_R3, 40);
    SHA1_FIVE(SHA1_R3, 45);
    SHA1_FIVE(SHA1_R3, 50);
    SHA1_FIVE(SHA1_R3, 55);
    SHA1_FIVE(SHA1_R4, 60);
    SHA1_FIVE(SHA1_R4, 65);
    SHA1_FIVE(SHA1_R4, 70);
    SHA1_FIVE(SHA1_R4, 75);
    a += a0;
    b += b0;
    c += c0;
    d += d0;
    e += e0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
  state[4] = e;
}

void Sha1Init(Sha1Context* context, Sha1Core core) {
  context->state[0] = 0x67452301u;
  context->state[1] = 0xEFCDAB89u;
  context->state[2] = 0x98BADCFEu;
  context->state[3] = 0x10325476u;
  context->state[4] = 0xC3D2E1F0u;
  context->lengthLow = 0;
  context->lengthHigh = 0;
  std::memset(context->buffer, 0, sizeof(context->buffer));
  context->bufferSize = 0;
  context->blocks = core == Sha1Core::kBest && Sha1HasShaInstructions()
                        ? kSha1BlocksShaInstructions
                        : &Sha1BlocksPortable;
}

void Sha1Update(Sha1Context* context, const void* data, size_t size) {
  if (size == 0) return;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (context->bufferSize != 0) {
    const size_t room = kSha1BlockSize - context->bufferSize;
    const size_t take = size < room ? size : room;
    std::memcpy(context->buffer + context->bufferSize, p, take);
    p += take;
    size -= take;
    if (context->bufferSize + take < kSha1BlockSize) {
      context->bufferSize += static_cast<uint32_t>(take);
      return;
    }
    context->blocks(context->state, context->buffer, 1);
    context->bufferSize = 0;
    AddLength(context, kSha1BlockSize);
  }
  const size_t whole = size / kSha1BlockSize;
  AbsorbBlocks(context, p, whole);
  p += whole * kSha1BlockSize;
  size -= whole * kSha1BlockSize;
  if (size != 0) {
    std::memcpy(context->buffer, p, size);
    context->bufferSize = static_cast<uint32_t>(size);
  }
}

void Sha1Final(Sha1Context* context, uint8_t digest[kSha1DigestSize]) {
  AddLength(context, context->bufferSize);
  uint8_t* buffer = context->buffer;
  size_t used = context->bufferSize;
  buffer[used++] = 0x80;
  if (used > kSha1BlockSize - 8) {
    std::memset(buffer + used, 0, kSha1BlockSize - used);
    context->blocks(context->state, buffer, 1);
    used = 0;
  }
  std::memset(buffer + used, 0, kSha1BlockSize - 8 - used);
  StoreBigEndian(buffer + 56, context->lengthHigh);
  StoreBigEndian(buffer + 60, context->lengthLow);
  context->blocks(context->state, buffer, 1);
  context->bufferSize = 0;
  for (int i = 0; i < 5; ++i) StoreBigEndian(digest + 4 * i, context->state[i]);
}

std::array<uint8_t, kSha1DigestSize> Sha1Digest(const void* data, size_t size, Sha1Core core) {
  Sha1Context context;
  Sha1Init(&context, core);
  Sha1Update(&context, data, size);
  std::array<uint8_t, kSha1DigestSize> digest;
  Sha1Final(&context, digest.data());
  return digest;
}

}  // namespace kal::cryptography
