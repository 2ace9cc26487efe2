// Resized copies by bilinear interpolation.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TORVO_X86 1
#endif

#include "imaging/cDIBSection.h"
#include "imaging/vector_forms.h"
#include "platform/arithmetic.h"
#include "platform/error.h"

namespace torvo {

namespace {

// Nearest integer, halves to even, for the small values interpolation gives: the conversion
// instructions round by the current mode, which is to nearest, halves to even.
inline int32_t RoundNearest(double v) {
#ifdef TORVO_X86
  return _mm_cvtsd_si32(_mm_set_sd(v));
#else
  return static_cast<int32_t>(std::nearbyint(v));
#endif
}

// One source scan line pair blended: out[c] = R(belowWeight x below[c] + aboveWeight x above[c]),
// kept as a double (an integer) for the horizontal step.
void BlendLinesScalar(const uint8_t* below, const uint8_t* above, double belowWeight, double aboveWeight,
                      double* out, int32_t count) {
  for (int32_t c = 0; c < count; ++c) out[c] = RoundNearest(belowWeight * below[c] + aboveWeight * above[c]);
}

#ifdef TORVO_X86
__attribute__((target("avx2"))) void BlendLinesAvx2(const uint8_t* below, const uint8_t* above, double belowWeight,
                                                    double aboveWeight, double* out, int32_t count) {
  const __m256d wb = _mm256_set1_pd(belowWeight), wa = _mm256_set1_pd(aboveWeight);
  int32_t c = 0;
  for (; c + 4 <= count; c += 4) {
    int32_t b4, a4;
    std::memcpy(&b4, below + c, 4);
    std::memcpy(&a4, above + c, 4);
    const __m256d vb = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(b4)));
    const __m256d va = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(a4)));
    const __m256d sum = _mm256_add_pd(_mm256_mul_pd(wb, vb), _mm256_mul_pd(wa, va));
    _mm256_storeu_pd(out + c, _mm256_cvtepi32_pd(_mm256_cvtpd_epi32(sum)));
  }
  BlendLinesScalar(below + c, above + c, belowWeight, aboveWeight, out + c, count - c);
}
#endif

// Each destination pixel from its two blended source columns: three bytes out.
struct Sample {
  int32_t left, right;  // index of the blue value of each source column in the blended line
  double leftWeight, rightWeight;
};

void BlendColumnsScalar(const double* line, const Sample* samples, uint8_t* out, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    const Sample& s = samples[x];
    for (int32_t k = 0; k < 3; ++k) {
      const int32_t v = RoundNearest(s.leftWeight * line[s.left + k] + s.rightWeight * line[s.right + k]);
      out[3 * x + k] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
}

#ifdef TORVO_X86
// The blended line holds one spare double at its end, so four can be read at the last column.
__attribute__((target("avx2"))) void BlendColumnsAvx2(const double* line, const Sample* samples, uint8_t* out,
                                                      int32_t width) {
  int32_t x = 0;
  for (; x + 1 < width; ++x) {
    const Sample& s = samples[x];
    const __m256d sum = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(s.leftWeight), _mm256_loadu_pd(line + s.left)),
                                      _mm256_mul_pd(_mm256_set1_pd(s.rightWeight), _mm256_loadu_pd(line + s.right)));
    const __m128i v = _mm256_cvtpd_epi32(sum);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(v, v), _mm_setzero_si128());
    // Four bytes written, the fourth overwritten by the next pixel.
    const int32_t four = _mm_cvtsi128_si32(bytes);
    std::memcpy(out + 3 * x, &four, 4);
  }
  BlendColumnsScalar(line, samples + x, out + 3 * x, width - x);
}
#endif

}  // namespace

std::unique_ptr<cDIBSection> cDIBSection::Resample(int32_t lNewHeight, int32_t lNewWidth) {
  auto result = std::make_unique<cDIBSection>();
  if (!result->Create(lNewWidth, lNewHeight)) return nullptr;
  if (lNewWidth == Width() && lNewHeight == Height())
    result->LoadPictureBlt(hdc(), 0, 0, -1, -1, gdi::Rop::kSrcCopy);
  else
    ResampleInto(*result);
  return result;
}

void cDIBSection::ResampleInto(cDIBSection& destination) {
  const int32_t sourceWidth = Width();
  const int32_t sourceHeight = Height();
  const int32_t width = destination.Width();
  const int32_t height = destination.Height();
  if (!lBitsPtr || !destination.lBitsPtr) RaiseRuntimeError(kErrSubscriptOutOfRange);

  const float xScale = static_cast<float>(static_cast<double>(sourceWidth - 1) / width);
  const float yScale = static_cast<float>(static_cast<double>(sourceHeight - 1) / height);
  const int32_t sourceStride = BytesPerScanLine();
  const int32_t stride = destination.BytesPerScanLine();

  // Where each destination column samples: its two source columns and the weight of each. A
  // source one pixel wide has no second column: the one column serves for both (its weight is 0
  // then anyway), so nothing outside the source is read.
  std::vector<Sample> samples(static_cast<size_t>(width));
  for (int32_t x = 0; x < width; ++x) {
    const float fx = static_cast<float>(static_cast<double>(xScale) * x);
    const double x0 = std::floor(fx);
    const float tx = static_cast<float>(fx - x0);
    const int32_t column = std::min(static_cast<int32_t>(x0), sourceWidth - 1);
    samples[x] = {3 * column, 3 * std::min(column + 1, sourceWidth - 1), 1.0 - tx, tx};
  }

#ifdef TORVO_X86
  static const bool haveAvx2 = __builtin_cpu_supports("avx2");
#else
  constexpr bool haveAvx2 = false;
#endif
  // One destination scan line at a time: first every source byte column blended between the two
  // source scan lines (that is the vertical step of every destination pixel of the line), then
  // each destination byte from its two columns.
  std::vector<double> blended(3 * static_cast<size_t>(sourceWidth) + 1, 0.0);
  for (int32_t y = 0; y < height; ++y) {
    const float fy = static_cast<float>(static_cast<double>(yScale) * y);
    const double y0 = std::floor(fy);
    const float ty = static_cast<float>(fy - y0);
    const int32_t line = std::min(static_cast<int32_t>(y0), sourceHeight - 1);
    const uint8_t* below = lBitsPtr + static_cast<int64_t>(line) * sourceStride;
    const uint8_t* above = lBitsPtr + static_cast<int64_t>(std::min(line + 1, sourceHeight - 1)) * sourceStride;
    uint8_t* out = destination.lBitsPtr + static_cast<int64_t>(y) * stride;
    if (haveAvx2 && vector_forms::Allowed()) {
#ifdef TORVO_X86
      BlendLinesAvx2(below, above, 1.0 - ty, ty, blended.data(), 3 * sourceWidth);
      BlendColumnsAvx2(blended.data(), samples.data(), out, width);
#endif
    } else {
      BlendLinesScalar(below, above, 1.0 - ty, ty, blended.data(), 3 * sourceWidth);
      BlendColumnsScalar(blended.data(), samples.data(), out, width);
    }
  }
}

}  // namespace torvo
