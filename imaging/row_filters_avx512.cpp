// The whole-picture sweep of a 3 x 3 kernel with one outer value, with 512-bit vectors: twice the
// bytes of the AVX2 form per instruction, and each output block fills a whole cache line of the
// copy. Like the AVX2 file it is built for these instructions alone, includes nothing but the
// intrinsics and its own header, and is called only when the processor has them.
#include <immintrin.h>

#include "imaging/row_filters_simd.h"

namespace torvo::row_filters {

namespace {

inline __m512i Widen32(const uint8_t* p) {
  return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}
inline __m512i Load32x16(const int16_t* p) { return _mm512_loadu_si512(p); }

// A line copied; with `stream`, past the caches wherever the target is 64-byte aligned.
void CopyLine(uint8_t* to, const uint8_t* from, int64_t bytes, bool stream) {
  int64_t i = 0;
  if (stream) {
    for (; i < bytes && (reinterpret_cast<uintptr_t>(to + i) & 63) != 0; ++i) to[i] = from[i];
    for (; i + 64 <= bytes; i += 64) _mm512_stream_si512(reinterpret_cast<__m512i*>(to + i), _mm512_loadu_si512(from + i));
  } else {
    for (; i + 64 <= bytes; i += 64) _mm512_storeu_si512(to + i, _mm512_loadu_si512(from + i));
  }
  for (; i < bytes; ++i) to[i] = from[i];
}

}  // namespace

void SweepBoxAndCentreAvx512(const BoxAndCentreSweep& s) {
  constexpr int32_t kPiece = 1024;
  // Column sums of one piece; unaligned loads and stores only, so no stack alignment is assumed.
  int16_t columns[kPiece + 128];
  const __m512i limit = _mm512_set1_epi16(s.limit);
  const __m512i magic = _mm512_set1_epi16(static_cast<int16_t>(s.magic));
  const __m128i shift = _mm_cvtsi32_si128(s.shift);
  const bool identity = s.identity;
  const __m512i around = _mm512_set1_epi16(s.around);
  const __m512i centreExtra = _mm512_set1_epi16(s.centreExtra);
  const __m512i zero = _mm512_setzero_si512();
  // packus works within 128-bit lanes; this puts its output's lanes back in order.
  const __m512i order = _mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0);
  const bool stream = s.stream;
  const int64_t rowBytes = 3 * static_cast<int64_t>(s.width);
  const int64_t slotBytes = rowBytes + 64;
  uint8_t* const image = s.image;
  uint8_t* const buffer = s.buffer;
  const int64_t stride = s.stride;
  // Source line y as it was, for the lines the sweep overwrites: three slots in turn.
  uint8_t* const slots[3] = {s.saved, s.saved + slotBytes, s.saved + 2 * slotBytes};
  CopyLine(slots[0], image, rowBytes, false);
  CopyLine(slots[1], image + stride, rowBytes, false);
  CopyLine(buffer, image, rowBytes, stream);
  const int32_t first = 3;
  const int32_t end = static_cast<int32_t>(rowBytes) - 3;
  for (int32_t y = 1; y <= s.height - 2; ++y) {
    const uint8_t* const top = slots[(y - 1) % 3];
    const uint8_t* const middle = slots[y % 3];
    const uint8_t* const bottom = image + (y + 1) * stride;
    // The line below is overwritten next; its bytes are kept as they are read here.
    uint8_t* const keep = slots[(y + 1) % 3];
    uint8_t* const target = image + y * stride;
    uint8_t* const copy = buffer + y * stride;
    // The line after it is asked for from memory a whole line ahead of its use.
    const uint8_t* const ahead = y + 2 < s.height ? bottom + stride : bottom;
    // The copy's first and last cache lines are written in part, so they are read first:
    // they are asked for a line ahead, as the source is.
    if (y + 1 < s.height - 1) {
      uint8_t* const next = copy + stride;
      uint8_t* const partial[] = {next, next + 64, next + 128, next + end - 64, next + end};
      for (uint8_t* line : partial) _m_prefetchw(line);
    }
    // The frame of one pixel keeps the picture's own bytes.
    for (int32_t c = 0; c < 3; ++c) {
      copy[c] = middle[c];
      copy[end + c] = middle[end + c];
    }
    // The first piece ends where the copy's line is 64-byte aligned, so the pieces after it
    // write whole cache lines past the caches.
    int32_t n = static_cast<int32_t>((64 - (reinterpret_cast<uintptr_t>(copy + first) & 63)) & 63);
    if (n < 64) n += 64;
    for (int32_t b = first; b < end; b += n, n = kPiece) {
      if (n > end - b) n = end - b;
      if (n < 64) {
        // A short last piece starts earlier and writes some bytes again, the same ones.
        b = end - 64;
        n = 64;
      }
      // columns[i]: the three lines' bytes at b - 3 + i added, for i in 0 .. n + 5; the last
      // block overlaps the one before with the same values.
      const int32_t count = n + 6;
      for (int32_t i = 0;; i += 32) {
        if (i + 32 > count) {
          if (i >= count) break;
          i = count - 32;
        }
        const int32_t at = b - 3 + i;
        _mm_prefetch(reinterpret_cast<const char*>(ahead + at), _MM_HINT_T0);
        const __m256i below = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + at));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(keep + at), below);
        const __m512i sum = _mm512_add_epi16(_mm512_add_epi16(Widen32(top + at), Widen32(middle + at)),
                                             _mm512_cvtepu8_epi16(below));
        _mm512_storeu_si512(columns + i, sum);
      }
      // Output b + o is around x (columns[o] + columns[o + 3] + columns[o + 6]) + centreExtra x
      // centre. 16-bit arithmetic wraps, so the result is exact whenever the true sum fits, as
      // the caller checked.
      for (int32_t o = 0;; o += 64) {
        if (o + 64 > n) {
          if (o >= n) break;
          o = n - 64;
        }
        __m512i lo = _mm512_add_epi16(_mm512_add_epi16(Load32x16(columns + o), Load32x16(columns + o + 3)),
                                      Load32x16(columns + o + 6));
        __m512i hi = _mm512_add_epi16(_mm512_add_epi16(Load32x16(columns + o + 32), Load32x16(columns + o + 35)),
                                      Load32x16(columns + o + 38));
        lo = _mm512_add_epi16(_mm512_mullo_epi16(lo, around), _mm512_mullo_epi16(Widen32(middle + b + o), centreExtra));
        hi = _mm512_add_epi16(_mm512_mullo_epi16(hi, around), _mm512_mullo_epi16(Widen32(middle + b + o + 32), centreExtra));
        lo = _mm512_min_epi16(_mm512_max_epi16(lo, zero), limit);
        hi = _mm512_min_epi16(_mm512_max_epi16(hi, zero), limit);
        if (!identity) {
          lo = _mm512_srl_epi16(_mm512_mulhi_epu16(lo, magic), shift);
          hi = _mm512_srl_epi16(_mm512_mulhi_epu16(hi, magic), shift);
        }
        const __m512i packed = _mm512_maskz_permutexvar_epi64(0xFF, order, _mm512_packus_epi16(lo, hi));
        _mm512_storeu_si512(target + b + o, packed);
        uint8_t* const to = copy + b + o;
        if (stream && (reinterpret_cast<uintptr_t>(to) & 63) == 0) {
          _mm512_stream_si512(reinterpret_cast<__m512i*>(to), packed);
        } else {
          _mm512_storeu_si512(to, packed);
        }
      }
    }
  }
  CopyLine(buffer + (s.height - 1) * stride, image + (s.height - 1) * stride, rowBytes, stream);
  if (stream) _mm_sfence();
  _mm256_zeroupper();
}

}  // namespace torvo::row_filters
