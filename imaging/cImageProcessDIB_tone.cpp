// Grey scale and fade: per-pixel changes of one surface in place.
#include <cstdint>

#include "imaging/cImageProcessDIB.h"
#include "imaging/column_bands.h"
#include "imaging/pixel_grid.h"
#include "imaging/vector_forms.h"
#include "platform/arithmetic.h"
#include "platform/clock.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TORVO_X86 1
#endif

namespace torvo {

namespace {

// Brightness 707 G + 222 R + 71 B in thousandths, to the nearest integer, halves to even.
inline uint8_t GreyOf(uint8_t blue, uint8_t green, uint8_t red) {
  const int32_t sum = 707 * green + 222 * red + 71 * blue;
  return static_cast<uint8_t>(RoundToInt32(sum / 1000.0));
}

void GreySegmentScalar(uint8_t* p, int32_t count) {
  for (int32_t i = 0; i < count; ++i, p += 3) p[0] = p[1] = p[2] = GreyOf(p[0], p[1], p[2]);
}

#ifdef TORVO_X86
// Sixteen pixels at a time. The weighted sum (below 2^24) is exact in single precision, and its
// quotient by 1000 lands exactly on a half only when the true quotient is one, so converting with
// the default rounding (nearest, halves to even) gives the same grey as the double division.
// Grey of the four pixels in the first twelve of the sixteen bytes at q, as 32-bit lanes.
__attribute__((target("ssse3"))) inline __m128i GreyOfFour(const uint8_t* q) {
  const __m128i pickBlueGreen = _mm_setr_epi8(0, -1, 1, -1, 3, -1, 4, -1, 6, -1, 7, -1, 9, -1, 10, -1);
  const __m128i pickRed = _mm_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1);
  const __m128i weightsBlueGreen = _mm_setr_epi16(71, 707, 71, 707, 71, 707, 71, 707);
  const __m128i weightRed = _mm_setr_epi16(222, 0, 222, 0, 222, 0, 222, 0);
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  const __m128i sum = _mm_add_epi32(_mm_madd_epi16(_mm_shuffle_epi8(bytes, pickBlueGreen), weightsBlueGreen),
                                    _mm_madd_epi16(_mm_shuffle_epi8(bytes, pickRed), weightRed));
  return _mm_cvtps_epi32(_mm_div_ps(_mm_cvtepi32_ps(sum), _mm_set1_ps(1000.0f)));
}

__attribute__((target("ssse3"))) void GreySegmentSsse3(uint8_t* p, int32_t count) {
  const __m128i spread0 = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
  const __m128i spread1 = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
  const __m128i spread2 = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
  int32_t i = 0;
  // The fourth load reads four bytes past the sixteen pixels: stay two pixels clear of the end.
  for (; count - i >= 18; i += 16, p += 48) {
    const __m128i low = _mm_packs_epi32(GreyOfFour(p), GreyOfFour(p + 12));
    const __m128i high = _mm_packs_epi32(GreyOfFour(p + 24), GreyOfFour(p + 36));
    const __m128i grey = _mm_packus_epi16(low, high);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(grey, spread0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), _mm_shuffle_epi8(grey, spread1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32), _mm_shuffle_epi8(grey, spread2));
  }
  GreySegmentScalar(p, count - i);
}
#endif

void GreySegment(uint8_t* p, int32_t count) {
#ifdef TORVO_X86
  static const bool haveSsse3 = __builtin_cpu_supports("ssse3");
  if (haveSsse3 && vector_forms::Allowed()) return GreySegmentSsse3(p, count);
#endif
  GreySegmentScalar(p, count);
}

// v x amount / 255 rounded down, for v and amount in 0..255: (p x 32897) >> 23 equals p / 255
// for every product p up to 65025.
void FadeBytes(uint8_t* p, int32_t count, int32_t lAmount) {
  int32_t i = 0;
#ifdef TORVO_X86
  const __m128i zero = _mm_setzero_si128();
  const __m128i amount = _mm_set1_epi16(static_cast<int16_t>(lAmount));
  const __m128i magic = _mm_set1_epi16(static_cast<int16_t>(32897));
  auto scale = [&](__m128i v) { return _mm_srli_epi16(_mm_mulhi_epu16(_mm_mullo_epi16(v, amount), magic), 7); };
  for (; vector_forms::Allowed() && count - i >= 16; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i low = scale(_mm_unpacklo_epi8(bytes, zero));
    const __m128i high = scale(_mm_unpackhi_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_packus_epi16(low, high));
  }
#endif
  for (; i < count; ++i) p[i] = static_cast<uint8_t>(p[i] * lAmount / 255);
}

}  // namespace

void cImageProcessDIB::GrayScale(cDIBSection& cTo) {
  const uint32_t start = TickCountMs();
  const int32_t width = cTo.Width();
  const int32_t height = cTo.Height();
  RaiseInitProgress(CheckedMul(3, CheckedSub(width, 1)));
  if (cTo.DIBSectionBitsPtr()) {
    column_bands::ForEachBand(cTo.DIBSectionBitsPtr(), cTo.BytesPerScanLine(), width, height,
                              column_bands::kWholeLines, GreySegment,
                              [this](int32_t x) { RaiseProgress(x); });
  } else {
    // No pixel memory: the first pixel is already out of range.
    PixelGrid grid(cTo);
    for (int32_t x = 0; x <= 3 * (width - 1); x += 3) {
      for (int32_t y = 0; y < height; ++y) {
        const uint8_t grey = GreyOf(grid(x, y), grid(x + 1, y), grid(x + 2, y));
        grid(x, y) = grid(x + 1, y) = grid(x + 2, y) = grey;
      }
      RaiseProgress(x);
    }
  }
  RaiseComplete(ElapsedMs(start, TickCountMs()));
}

void cImageProcessDIB::Fade(cDIBSection& cTo, int32_t lAmount) {
  const uint32_t start = TickCountMs();
  const int32_t width = cTo.Width();
  const int32_t height = cTo.Height();
  RaiseInitProgress(CheckedMul(3, CheckedSub(width, 1)));
  if (cTo.DIBSectionBitsPtr() && lAmount >= 0 && lAmount <= 255) {
    column_bands::ForEachBand(
        cTo.DIBSectionBitsPtr(), cTo.BytesPerScanLine(), width, height, column_bands::kWholeLines,
        [lAmount](uint8_t* p, int32_t count) { FadeBytes(p, 3 * count, lAmount); },
        [this](int32_t x) { RaiseProgress(x); });
  } else {
    // An amount outside 0..255 can overflow a byte part-way: keep the exact order, so the bytes
    // before the failing one are the ones changed.
    PixelGrid grid(cTo);
    for (int32_t x = 0; x <= 3 * (width - 1); x += 3) {
      for (int32_t y = 0; y < height; ++y) {
        int32_t faded[3];
        for (int32_t k = 0; k < 3; ++k) faded[k] = CheckedDiv(CheckedMul(grid(x + k, y), lAmount), 255);
        for (int32_t k = 0; k < 3; ++k) grid(x + k, y) = ToByte(faded[k]);
      }
      RaiseProgress(x);
    }
  }
  RaiseComplete(ElapsedMs(start, TickCountMs()));
}

}  // namespace torvo
