// The 16-bit kernel row with 256-bit vectors. This file alone is built for AVX2 and is called
// only when the processor has it; it includes nothing but the intrinsics and its own header, so
// no inline library code built for AVX2 can stand in for the plain build's copy elsewhere.
#include <immintrin.h>

#include "imaging/row_filters_simd.h"

namespace torvo::row_filters {

namespace {

inline __m256i Widen(const uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

inline void Block(const NarrowKernel& k, uint8_t* out, int32_t b, __m256i limit, __m256i magic,
                  __m128i shift) {
  __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
  for (int32_t t = 0; t < k.plusCount; ++t) {
    lo = _mm256_add_epi16(lo, Widen(k.plus[t] + b));
    hi = _mm256_add_epi16(hi, Widen(k.plus[t] + b + 16));
  }
  for (int32_t t = 0; t < k.minusCount; ++t) {
    lo = _mm256_sub_epi16(lo, Widen(k.minus[t] + b));
    hi = _mm256_sub_epi16(hi, Widen(k.minus[t] + b + 16));
  }
  for (int32_t t = 0; t < k.otherCount; ++t) {
    const __m256i c = _mm256_set1_epi16(k.otherCoefficient[t]);
    lo = _mm256_add_epi16(lo, _mm256_mullo_epi16(Widen(k.other[t] + b), c));
    hi = _mm256_add_epi16(hi, _mm256_mullo_epi16(Widen(k.other[t] + b + 16), c));
  }
  const __m256i zero = _mm256_setzero_si256();
  lo = _mm256_min_epi16(_mm256_max_epi16(lo, zero), limit);
  hi = _mm256_min_epi16(_mm256_max_epi16(hi, zero), limit);
  if (!k.identity) {
    lo = _mm256_srl_epi16(_mm256_mulhi_epu16(lo, magic), shift);
    hi = _mm256_srl_epi16(_mm256_mulhi_epu16(hi, magic), shift);
  }
  // packus interleaves the 128-bit halves; put the bytes back in order.
  const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + b), packed);
}

}  // namespace

void RunNarrowAvx2(const NarrowKernel& kernel, uint8_t* out, int32_t first, int32_t end) {
  const __m256i limit = _mm256_set1_epi16(kernel.limit);
  const __m256i magic = _mm256_set1_epi16(static_cast<int16_t>(kernel.magic));
  const __m128i shift = _mm_cvtsi32_si128(kernel.shift);
  int32_t b = first;
  for (; b + 32 <= end; b += 32) Block(kernel, out, b, limit, magic, shift);
  // The last block overlaps the one before; it writes the same bytes again.
  if (b < end) Block(kernel, out, end - 32, limit, magic, shift);
  _mm256_zeroupper();
}

}  // namespace torvo::row_filters
