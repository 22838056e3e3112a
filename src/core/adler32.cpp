#include "core/adler32.h"

#include <zlib.h>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUILLON_ADLER32_SSE2 1
#endif

namespace quillon {

#ifdef QUILLON_ADLER32_SSE2
namespace {

constexpr std::uint32_t kBase = 65521;  // the largest prime below 65536
// The most bytes whose sums fit 32 bits before they are reduced (zlib's NMAX), in whole
// 32-byte rounds: 173 rounds, 5536 bytes.
constexpr std::size_t kRoundBytes = 32;
constexpr std::size_t kRoundsPerReduction = 5552 / kRoundBytes;

// The bytes of one 16-byte half, widened to 16 bits, times their weights, summed in pairs
// into four 32-bit lanes.
inline __m128i WeightedSum(__m128i bytes, __m128i lowWeights, __m128i highWeights) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i low = _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), lowWeights);
  const __m128i high = _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), highWeights);
  return _mm_add_epi32(low, high);
}

inline std::uint32_t LaneSum(__m128i v) {
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
}

}  // namespace

std::uint32_t Adler32(std::uint32_t adler, const std::uint8_t* data, std::size_t n) {
  std::uint32_t a = adler & 0xffff;  // the sum of the bytes, plus one
  std::uint32_t b = adler >> 16;     // the sum of the values a took after each byte
  // Within a round of 32 bytes, byte k (from 0) adds its value to b (32 - k) times; the
  // a of the rounds before adds 32 times per round.
  const __m128i weights0 = _mm_setr_epi16(32, 31, 30, 29, 28, 27, 26, 25);
  const __m128i weights1 = _mm_setr_epi16(24, 23, 22, 21, 20, 19, 18, 17);
  const __m128i weights2 = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
  const __m128i weights3 = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
  const __m128i zero = _mm_setzero_si128();
  while (n >= kRoundBytes) {
    std::size_t rounds = n / kRoundBytes;
    if (rounds > kRoundsPerReduction) rounds = kRoundsPerReduction;
    n -= rounds * kRoundBytes;
    // The byte sums of the rounds so far (two lanes), and the sum of those sums taken
    // before each round: b grows by 32 times the latter.
    __m128i sums = _mm_setzero_si128();
    __m128i sumsBefore = _mm_setzero_si128();
    __m128i weighted = _mm_setzero_si128();
    b += a * static_cast<std::uint32_t>(rounds * kRoundBytes);
    for (std::size_t r = 0; r < rounds; ++r) {
      const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
      const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16));
      sumsBefore = _mm_add_epi32(sumsBefore, sums);
      sums = _mm_add_epi32(sums, _mm_sad_epu8(first, zero));
      sums = _mm_add_epi32(sums, _mm_sad_epu8(second, zero));
      weighted = _mm_add_epi32(weighted, WeightedSum(first, weights0, weights1));
      weighted = _mm_add_epi32(weighted, WeightedSum(second, weights2, weights3));
      data += kRoundBytes;
    }
    b += LaneSum(_mm_slli_epi32(sumsBefore, 5)) + LaneSum(weighted);
    a += LaneSum(sums);
    a %= kBase;
    b %= kBase;
  }
  // The last bytes one at a time: fewer than 32, so the sums cannot overflow.
  while (n-- > 0) {
    a += *data++;
    b += a;
  }
  return (b % kBase) << 16 | (a % kBase);
}

#else

std::uint32_t Adler32(std::uint32_t adler, const std::uint8_t* data, std::size_t n) {
  // zlib takes its lengths as uInt: a 32-bit count, whatever size_t is.
  constexpr std::size_t kPiece = 1u << 30;
  while (n > 0) {
    const std::size_t take = n < kPiece ? n : kPiece;
    adler = static_cast<std::uint32_t>(adler32(adler, data, static_cast<uInt>(take)));
    data += take;
    n -= take;
  }
  return adler;
}

#endif

}  // namespace quillon
