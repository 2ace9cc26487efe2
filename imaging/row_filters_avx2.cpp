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

// Clamp, divide and store 32 output bytes from their two halves of 16-bit sums.
inline void Finish(const NarrowKernel& k, uint8_t* out, __m256i lo, __m256i hi, __m256i limit,
                   __m256i magic, __m128i shift) {
  const __m256i zero = _mm256_setzero_si256();
  lo = _mm256_min_epi16(_mm256_max_epi16(lo, zero), limit);
  hi = _mm256_min_epi16(_mm256_max_epi16(hi, zero), limit);
  if (!k.identity) {
    lo = _mm256_srl_epi16(_mm256_mulhi_epu16(lo, magic), shift);
    hi = _mm256_srl_epi16(_mm256_mulhi_epu16(hi, magic), shift);
  }
  const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
}

inline __m256i Load16(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

}  // namespace

void RunBoxAndCentreAvx2(const NarrowKernel& k, uint8_t* out, int32_t first, int32_t end) {
  // Outputs are made a piece of the line at a time so the column sums stay in the nearest cache.
  constexpr int32_t kPiece = 512;
  alignas(32) int16_t columns[kPiece + 16];
  const __m256i limit = _mm256_set1_epi16(k.limit);
  const __m256i magic = _mm256_set1_epi16(static_cast<int16_t>(k.magic));
  const __m128i shift = _mm_cvtsi32_si128(k.shift);
  const __m256i around = _mm256_set1_epi16(k.around);
  const __m256i centreExtra = _mm256_set1_epi16(k.centreExtra);
  const uint8_t* const top = k.lines[0];
  const uint8_t* const middle = k.lines[1];
  const uint8_t* const bottom = k.lines[2];
  for (int32_t b = first; b < end;) {
    int32_t n = end - b < kPiece ? end - b : kPiece;
    if (n < 32) {
      // A short last piece starts earlier and writes some bytes again, the same ones.
      b = end - 32;
      n = 32;
    }
    // columns[i]: the three lines' bytes at b - 3 + i added, for i in 0 .. n + 5.
    const int32_t count = n + 6;
    auto columnBlock = [&](int32_t i) {
      const int32_t at = b - 3 + i;
      const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(Widen(top + at), Widen(middle + at)), Widen(bottom + at));
      _mm256_store_si256(reinterpret_cast<__m256i*>(columns + i), sum);
    };
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) columnBlock(i);
    if (i < count) {
      // Unaligned, overlapping the block before with the same values.
      const int32_t at = b - 3 + count - 16;
      const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(Widen(top + at), Widen(middle + at)), Widen(bottom + at));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(columns + count - 16), sum);
    }
    // Output b + o is around x (columns[o] + columns[o + 3] + columns[o + 6]) + centreExtra x centre.
    // 16-bit arithmetic wraps, so the result is exact whenever the true sum fits, as the caller checked.
    auto outputBlock = [&](int32_t o) {
      __m256i lo = _mm256_add_epi16(_mm256_add_epi16(Load16(columns + o), Load16(columns + o + 3)), Load16(columns + o + 6));
      __m256i hi = _mm256_add_epi16(_mm256_add_epi16(Load16(columns + o + 16), Load16(columns + o + 19)),
                                    Load16(columns + o + 22));
      lo = _mm256_add_epi16(_mm256_mullo_epi16(lo, around), _mm256_mullo_epi16(Widen(middle + b + o), centreExtra));
      hi = _mm256_add_epi16(_mm256_mullo_epi16(hi, around), _mm256_mullo_epi16(Widen(middle + b + o + 16), centreExtra));
      Finish(k, out + b + o, lo, hi, limit, magic, shift);
    };
    int32_t o = 0;
    for (; o + 32 <= n; o += 32) outputBlock(o);
    if (o < n) outputBlock(n - 32);
    b += n;
  }
  _mm256_zeroupper();
}

namespace {

inline __m256i Load32(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
inline void Store32(uint8_t* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

// A line copied; with `stream`, past the caches wherever the target is 32-byte aligned.
void CopyLine(uint8_t* to, const uint8_t* from, int64_t bytes, bool stream) {
  int64_t i = 0;
  if (stream) {
    for (; i < bytes && (reinterpret_cast<uintptr_t>(to + i) & 31) != 0; ++i) to[i] = from[i];
    for (; i + 32 <= bytes; i += 32) _mm256_stream_si256(reinterpret_cast<__m256i*>(to + i), Load32(from + i));
  } else {
    for (; i + 32 <= bytes; i += 32) Store32(to + i, Load32(from + i));
  }
  for (; i < bytes; ++i) to[i] = from[i];
}

}  // namespace

void SweepBoxAndCentreAvx2(const BoxAndCentreSweep& s) {
  constexpr int32_t kPiece = 1024;
  // Column sums of one piece; unaligned loads and stores only, so no stack alignment is assumed.
  int16_t columns[kPiece + 64];
  const __m256i limit = _mm256_set1_epi16(s.limit);
  const __m256i magic = _mm256_set1_epi16(static_cast<int16_t>(s.magic));
  const __m128i shift = _mm_cvtsi32_si128(s.identity ? 0 : s.shift);
  // Dividing by 1: multiplying by 65536 is the high half of (t << 16), so t comes back as it was.
  const bool identity = s.identity;
  const __m256i around = _mm256_set1_epi16(s.around);
  const __m256i centreExtra = _mm256_set1_epi16(s.centreExtra);
  const __m256i zero = _mm256_setzero_si256();
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
      for (uint8_t* line : partial) _mm_prefetch(reinterpret_cast<const char*>(line), _MM_HINT_T0);
    }
    // The frame of one pixel keeps the picture's own bytes.
    for (int32_t c = 0; c < 3; ++c) {
      copy[c] = middle[c];
      copy[end + c] = middle[end + c];
    }
    // The first piece ends where the copy's line is 64-byte aligned, so the pieces after it
    // write whole cache lines past the caches.
    int32_t n = static_cast<int32_t>((64 - (reinterpret_cast<uintptr_t>(copy + first) & 63)) & 63);
    if (n < 32) n += 64;
    for (int32_t b = first; b < end; b += n, n = kPiece) {
      if (n > end - b) n = end - b;
      if (n < 32) {
        // A short last piece starts earlier and writes some bytes again, the same ones.
        b = end - 32;
        n = 32;
      }
      // columns[i]: the three lines' bytes at b - 3 + i added, for i in 0 .. n + 5; the last
      // block overlaps the one before with the same values.
      const int32_t count = n + 6;
      for (int32_t i = 0;; i += 16) {
        if (i + 16 > count) {
          if (i >= count) break;
          i = count - 16;
        }
        const int32_t at = b - 3 + i;
        _mm_prefetch(reinterpret_cast<const char*>(ahead + at), _MM_HINT_T0);
        const __m128i below = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + at));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(keep + at), below);
        const __m256i sum = _mm256_add_epi16(_mm256_add_epi16(Widen(top + at), Widen(middle + at)),
                                             _mm256_cvtepu8_epi16(below));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(columns + i), sum);
      }
      // Output b + o is around x (columns[o] + columns[o + 3] + columns[o + 6]) + centreExtra x
      // centre. 16-bit arithmetic wraps, so the result is exact whenever the true sum fits, as
      // the caller checked.
      for (int32_t o = 0;; o += 32) {
        if (o + 32 > n) {
          if (o >= n) break;
          o = n - 32;
        }
        __m256i lo = _mm256_add_epi16(_mm256_add_epi16(Load16(columns + o), Load16(columns + o + 3)),
                                      Load16(columns + o + 6));
        __m256i hi = _mm256_add_epi16(_mm256_add_epi16(Load16(columns + o + 16), Load16(columns + o + 19)),
                                      Load16(columns + o + 22));
        lo = _mm256_add_epi16(_mm256_mullo_epi16(lo, around), _mm256_mullo_epi16(Widen(middle + b + o), centreExtra));
        hi = _mm256_add_epi16(_mm256_mullo_epi16(hi, around), _mm256_mullo_epi16(Widen(middle + b + o + 16), centreExtra));
        lo = _mm256_min_epi16(_mm256_max_epi16(lo, zero), limit);
        hi = _mm256_min_epi16(_mm256_max_epi16(hi, zero), limit);
        if (!identity) {
          lo = _mm256_srl_epi16(_mm256_mulhi_epu16(lo, magic), shift);
          hi = _mm256_srl_epi16(_mm256_mulhi_epu16(hi, magic), shift);
        }
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
        Store32(target + b + o, packed);
        uint8_t* const to = copy + b + o;
        if (stream && (reinterpret_cast<uintptr_t>(to) & 31) == 0) {
          _mm256_stream_si256(reinterpret_cast<__m256i*>(to), packed);
        } else {
          Store32(to, packed);
        }
      }
    }
  }
  CopyLine(buffer + (s.height - 1) * stride, image + (s.height - 1) * stride, rowBytes, stream);
  if (stream) _mm_sfence();
  _mm256_zeroupper();
}

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
