// The SHA-1 block function on the processor's SHA instructions, and the CPUID test that says
// whether they may be used. Only this function is compiled for those instructions, so the rest
// of the program still runs on a plain i686.
#include "analysis/sha1_core.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>

namespace kal::cryptography {
namespace {

// Four rounds with message words `msg`; `e` carries the e word for the first of them (rotated
// in by sha1nexte from the a word four rounds back).
#define SHA1NI_ROUNDS(func, msg)                  \
  do {                                            \
    e = _mm_sha1nexte_epu32(saved, msg);          \
    saved = abcd;                                 \
    abcd = _mm_sha1rnds4_epu32(abcd, e, func);    \
  } while (0)

// The next four message words from the previous sixteen.
#define SHA1NI_SCHEDULE(w0, w1, w2, w3) \
  w0 = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(w0, w1), w2), w3)

__attribute__((target("sha,sse4.1,ssse3"))) void Sha1BlocksShaNi(uint32_t state[5],
                                                                 const uint8_t* data,
                                                                 size_t blocks) {
  // Message words are big-endian; the state's word a sits in the highest lane.
  const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

  for (; blocks != 0; --blocks, data += kSha1BlockSize) {
    const __m128i abcdBefore = abcd;
    const __m128i eBefore = e0;
    const __m128i* in = reinterpret_cast<const __m128i*>(data);
    __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byteSwap);
    __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byteSwap);
    __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byteSwap);
    __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byteSwap);

    // Rounds 0-3 take e straight from the state.
    __m128i e = _mm_add_epi32(e0, w0);
    __m128i saved = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, 0);
    SHA1NI_ROUNDS(0, w1);  // 4-7
    SHA1NI_ROUNDS(0, w2);  // 8-11
    SHA1NI_ROUNDS(0, w3);  // 12-15
    SHA1NI_SCHEDULE(w0, w1, w2, w3);
    SHA1NI_ROUNDS(0, w0);  // 16-19
    SHA1NI_SCHEDULE(w1, w2, w3, w0);
    SHA1NI_ROUNDS(1, w1);  // 20-23
    SHA1NI_SCHEDULE(w2, w3, w0, w1);
    SHA1NI_ROUNDS(1, w2);
    SHA1NI_SCHEDULE(w3, w0, w1, w2);
    SHA1NI_ROUNDS(1, w3);
    SHA1NI_SCHEDULE(w0, w1, w2, w3);
    SHA1NI_ROUNDS(1, w0);
    SHA1NI_SCHEDULE(w1, w2, w3, w0);
    SHA1NI_ROUNDS(1, w1);  // 36-39
    SHA1NI_SCHEDULE(w2, w3, w0, w1);
    SHA1NI_ROUNDS(2, w2);  // 40-43
    SHA1NI_SCHEDULE(w3, w0, w1, w2);
    SHA1NI_ROUNDS(2, w3);
    SHA1NI_SCHEDULE(w0, w1, w2, w3);
    SHA1NI_ROUNDS(2, w0);
    SHA1NI_SCHEDULE(w1, w2, w3, w0);
    SHA1NI_ROUNDS(2, w1);
    SHA1NI_SCHEDULE(w2, w3, w0, w1);
    SHA1NI_ROUNDS(2, w2);  // 56-59
    SHA1NI_SCHEDULE(w3, w0, w1, w2);
    SHA1NI_ROUNDS(3, w3);  // 60-63
    SHA1NI_SCHEDULE(w0, w1, w2, w3);
    SHA1NI_ROUNDS(3, w0);
    SHA1NI_SCHEDULE(w1, w2, w3, w0);
    SHA1NI_ROUNDS(3, w1);
    SHA1NI_SCHEDULE(w2, w3, w0, w1);
    SHA1NI_ROUNDS(3, w2);
    SHA1NI_SCHEDULE(w3, w0, w1, w2);
    SHA1NI_ROUNDS(3, w3);  // 76-79

    e0 = _mm_sha1nexte_epu32(saved, eBefore);
    abcd = _mm_add_epi32(abcd, abcdBefore);
  }

  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

#undef SHA1NI_ROUNDS
#undef SHA1NI_SCHEDULE

bool DetectShaInstructions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool ssse3 = (ecx & bit_SSSE3) != 0;
  const bool sse41 = (ecx & bit_SSE4_1) != 0;
  if (!ssse3 || !sse41) return false;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  return (ebx & (1u << 29)) != 0;  // SHA extensions
}

}  // namespace

const Sha1BlockFunction kSha1BlocksShaInstructions = &Sha1BlocksShaNi;

bool Sha1HasShaInstructions() {
  static const bool has = DetectShaInstructions();
  return has;
}

}  // namespace kal::cryptography

#else

namespace kal::cryptography {
const Sha1BlockFunction kSha1BlocksShaInstructions = nullptr;
bool Sha1HasShaInstructions() { return false; }
}  // namespace kal::cryptography

#endif
