#include "imaging/row_filters.h"

#include "imaging/row_filters_simd.h"
#include "imaging/vector_forms.h"

#include <algorithm>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace torvo::row_filters {

namespace {

struct Magic {
  bool found = false;
  uint16_t multiplier = 0;
  int32_t shift = 0;
};

// A multiplier and shift that divide every t in 0..limit by divisor exactly. Proven by trying
// every t, which is cheap (at most 32768 values) and remembered for the last divisor.
Magic FindMagic(int32_t divisor, int32_t limit) {
  thread_local int32_t lastDivisor = 0, lastLimit = -1;
  thread_local Magic lastMagic;
  if (divisor == lastDivisor && limit == lastLimit) return lastMagic;
  Magic result;
  for (int32_t shift = 0; shift < 16 && !result.found; ++shift) {
    int64_t scale = int64_t{1} << (16 + shift);
    int64_t multiplier = (scale + divisor - 1) / divisor;
    if (multiplier > 0xFFFF) break;
    bool exact = true;
    for (int64_t t = 0; t <= limit && exact; ++t) {
      exact = ((t * multiplier) >> (16 + shift)) == t / divisor;
    }
    if (exact) {
      result.found = true;
      result.multiplier = static_cast<uint16_t>(multiplier);
      result.shift = shift;
    }
  }
  lastDivisor = divisor;
  lastLimit = limit;
  lastMagic = result;
  return result;
}

}  // namespace

std::optional<KernelRows> KernelRows::Prepare(const std::vector<int32_t>& kernel, int32_t half,
                                              int32_t weight) {
  if (weight == 0) return std::nullopt;
  const int32_t size = 2 * half + 1;
  if (kernel.size() != static_cast<size_t>(size) * size) return std::nullopt;
  KernelRows rows;
  rows.weight = weight;
  int64_t absoluteSum = 0;
  // The order of the taps does not matter: with no overflow the sum is the same in any order.
  for (int32_t j = -half; j <= half; ++j) {
    for (int32_t i = -half; i <= half; ++i) {
      int32_t k = kernel[static_cast<size_t>((j + half) * size + (i + half))];
      absoluteSum += std::abs(static_cast<int64_t>(k));
      if (k != 0) rows.taps.push_back({j + half, 3 * i, k});
    }
  }
  // Every partial sum lies within +-255 x the sum of the coefficients' magnitudes.
  if (absoluteSum * 255 > INT32_MAX) return std::nullopt;
  if (absoluteSum * 255 <= 32767) {
    rows.narrow = true;
    const int32_t sign = weight < 0 ? -1 : 1;
    for (Tap& tap : rows.taps) tap.coefficient *= sign;
    const int64_t divisor = std::abs(static_cast<int64_t>(weight));
    // t / divisor is at least 256 from t = 256 x divisor on, and the byte is 255 from there.
    rows.divisor = static_cast<int32_t>(std::min<int64_t>(divisor, INT32_MAX));
    rows.limit = static_cast<int32_t>(std::min<int64_t>(32767, 256 * divisor - 1));
    rows.identity = divisor == 1;
    if (half == 1) {
      const int32_t outer = kernel[0] * sign;
      bool same = outer != 0;
      for (size_t k = 0; k < 9 && same; ++k) same = k == 4 || kernel[k] * sign == outer;
      rows.boxAndCentre = same;
      rows.around = outer;
      rows.centre = kernel[4] * sign;
    }
    if (!rows.identity) {
      Magic m = FindMagic(rows.divisor, rows.limit);
      rows.haveMagic = m.found;
      rows.magic = m.multiplier;
      rows.shift = m.shift;
    }
  }
  return rows;
}

void KernelRows::RunScalar(const uint8_t* const* rows, uint8_t* out, int32_t first,
                           int32_t end) const {
  for (int32_t b = first; b < end; ++b) {
    int32_t sum = 0;
    for (const Tap& tap : taps) sum += tap.coefficient * rows[tap.row][b + tap.offset];
    int32_t q;
    if (narrow) {
      // The sign of the weight is already in the coefficients.
      q = std::min(255, std::max(sum, 0) / divisor);
    } else {
      q = std::clamp(sum / weight, 0, 255);
    }
    out[b] = static_cast<uint8_t>(q);
  }
}

namespace {

bool HaveAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
#else
  return false;
#endif
}

bool HaveAvx512() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  return have;
#else
  return false;
#endif
}

}  // namespace

void KernelRows::FillNarrow(const uint8_t* const* rows, NarrowKernel& k) const {
  k.plusCount = k.minusCount = k.otherCount = 0;
  for (const Tap& tap : taps) {
    const uint8_t* at = rows[tap.row] + tap.offset;
    if (tap.coefficient == 1) {
      k.plus[k.plusCount++] = at;
    } else if (tap.coefficient == -1) {
      k.minus[k.minusCount++] = at;
    } else {
      k.otherCoefficient[k.otherCount] = static_cast<int16_t>(tap.coefficient);
      k.other[k.otherCount++] = at;
    }
  }
  k.limit = static_cast<int16_t>(limit);
  k.identity = identity;
  k.magic = magic;
  k.shift = shift;
  k.boxAndCentre = boxAndCentre;
  if (boxAndCentre) {
    for (int32_t line = 0; line < 3; ++line) k.lines[line] = rows[line];
    k.around = static_cast<int16_t>(around);
    k.centreExtra = static_cast<int16_t>(centre - around);
  }
}

#if defined(__SSE2__)
void KernelRows::RunVector(const uint8_t* const* rows, uint8_t* out, int32_t first,
                           int32_t end) const {
  NarrowKernel k;
  FillNarrow(rows, k);
#if defined(__x86_64__) || defined(__i386__)
  if (end - first >= 32 && HaveAvx2()) {
    if (k.boxAndCentre) {
      RunBoxAndCentreAvx2(k, out, first, end);
      return;
    }
    RunNarrowAvx2(k, out, first, end);
    return;
  }
#endif
  const __m128i zero = _mm_setzero_si128();
  const __m128i limitV = _mm_set1_epi16(k.limit);
  const __m128i magicV = _mm_set1_epi16(static_cast<int16_t>(k.magic));
  const __m128i shiftV = _mm_cvtsi32_si128(k.shift);
  auto load = [](const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  auto block = [&](int32_t b) {
    __m128i lo = zero, hi = zero;
    for (int32_t t = 0; t < k.plusCount; ++t) {
      __m128i v = load(k.plus[t] + b);
      lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
      hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
    }
    for (int32_t t = 0; t < k.minusCount; ++t) {
      __m128i v = load(k.minus[t] + b);
      lo = _mm_sub_epi16(lo, _mm_unpacklo_epi8(v, zero));
      hi = _mm_sub_epi16(hi, _mm_unpackhi_epi8(v, zero));
    }
    for (int32_t t = 0; t < k.otherCount; ++t) {
      __m128i v = load(k.other[t] + b);
      __m128i c = _mm_set1_epi16(k.otherCoefficient[t]);
      lo = _mm_add_epi16(lo, _mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), c));
      hi = _mm_add_epi16(hi, _mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), c));
    }
    lo = _mm_min_epi16(_mm_max_epi16(lo, zero), limitV);
    hi = _mm_min_epi16(_mm_max_epi16(hi, zero), limitV);
    if (!k.identity) {
      lo = _mm_srl_epi16(_mm_mulhi_epu16(lo, magicV), shiftV);
      hi = _mm_srl_epi16(_mm_mulhi_epu16(hi, magicV), shiftV);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + b), _mm_packus_epi16(lo, hi));
  };
  int32_t b = first;
  for (; b + 16 <= end; b += 16) block(b);
  // The last block overlaps the one before; it writes the same bytes again.
  if (b < end) block(end - 16);
}
#else
void KernelRows::RunVector(const uint8_t* const* rows, uint8_t* out, int32_t first,
                           int32_t end) const {
  RunScalar(rows, out, first, end);
}
#endif

void KernelRows::Run(const uint8_t* const* rows, uint8_t* out, int32_t first,
                     int32_t count) const {
  const int32_t end = first + count;
  if (narrow && (identity || haveMagic) && count >= 16) {
    RunVector(rows, out, first, end);
  } else {
    RunScalar(rows, out, first, end);
  }
}

bool KernelRows::SweepInPlace(uint8_t* image, uint8_t* buffer, int64_t stride, int32_t width,
                              int32_t height, bool stream) const {
#if defined(__x86_64__) || defined(__i386__)
  if (!narrow || !boxAndCentre || !(identity || haveMagic)) return false;
  const int widest = vector_forms::Widest();
  if (width < kBoxSweepMinimumWidth || height < 3 || widest < 256 || !HaveAvx2()) return false;
  BoxAndCentreSweep sweep;
  sweep.image = image;
  sweep.buffer = buffer;
  sweep.stride = stride;
  sweep.width = width;
  sweep.height = height;
  sweep.stream = stream;
  sweep.around = static_cast<int16_t>(around);
  sweep.centreExtra = static_cast<int16_t>(centre - around);
  sweep.limit = static_cast<int16_t>(limit);
  sweep.identity = identity;
  sweep.magic = magic;
  sweep.shift = shift;
  std::vector<uint8_t> saved(3 * (3 * static_cast<size_t>(width) + 64));
  sweep.saved = saved.data();
  if (widest >= 512 && HaveAvx512()) {
    SweepBoxAndCentreAvx512(sweep);
  } else {
    SweepBoxAndCentreAvx2(sweep);
  }
  return true;
#else
  (void)image, (void)buffer, (void)stride, (void)width, (void)height, (void)stream;
  return false;
#endif
}

void MinMaxRow(const uint8_t* const* rows, uint8_t* out, int32_t first, int32_t count,
               bool takeMinimum) {
  const int32_t end = first + count;
  int32_t b = first;
#if defined(__SSE2__)
  auto block = [&](int32_t at) {
    __m128i acc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[0] + at - 3));
    for (int32_t r = 0; r < 3; ++r) {
      for (int32_t offset = -3; offset <= 3; offset += 3) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[r] + at + offset));
        acc = takeMinimum ? _mm_min_epu8(acc, v) : _mm_max_epu8(acc, v);
      }
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), acc);
  };
  if (count >= 16) {
    for (; b + 16 <= end; b += 16) block(b);
    if (b < end) block(end - 16);
    return;
  }
#endif
  for (; b < end; ++b) {
    uint8_t acc = rows[0][b - 3];
    for (int32_t r = 0; r < 3; ++r) {
      for (int32_t offset = -3; offset <= 3; offset += 3) {
        uint8_t v = rows[r][b + offset];
        acc = takeMinimum ? std::min(acc, v) : std::max(acc, v);
      }
    }
    out[b] = acc;
  }
}

}  // namespace torvo::row_filters
