#include "upload/box_rescale.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace torvo::upload {

namespace {

// Which source pixels (or rows) make one destination pixel, and their weights: the box filter's
// table as FreeImage computes it, in the same double arithmetic (the same weights to the bit),
// with the zero weights dropped (adding a zero product leaves a sum as it is).
struct Span {
  unsigned first = 0;
  std::vector<double> weights;
};

std::vector<Span> BoxWeights(unsigned dstSize, unsigned srcSize) {
  const double scale = double(dstSize) / double(srcSize);
  double width = 0.5;  // the box's half width
  double filterScale = 1.0;
  if (scale < 1.0) {
    width = 0.5 / scale;
    filterScale = scale;
  }
  const double offset = 0.5 / scale;
  std::vector<Span> spans(dstSize);
  std::vector<double> raw;
  for (unsigned u = 0; u < dstSize; ++u) {
    const double center = double(u) / scale + offset;
    const int left = std::max(0, int(center - width + 0.5));
    const int right = std::min(int(center + width + 0.5), int(srcSize));
    raw.clear();
    double total = 0;
    for (int i = left; i < right; ++i) {
      const double weight = filterScale * (std::fabs(filterScale * (double(i) + 0.5 - center)) <= 0.5 ? 1.0 : 0.0);
      raw.push_back(weight);
      total += weight;
    }
    if (total > 0 && total != 1) {
      for (double& weight : raw) weight /= total;
    }
    Span& span = spans[u];
    span.first = unsigned(left);
    size_t begin = 0, end = raw.size();
    while (begin < end && raw[begin] == 0) ++begin;
    while (end > begin && raw[end - 1] == 0) --end;
    span.first += unsigned(begin);
    span.weights.assign(raw.begin() + begin, raw.begin() + end);
  }
  return spans;
}

// Four bytes from p as four doubles.
__attribute__((target("avx2"))) inline __m256d Four(const uint8_t* p) {
  int32_t bytes;
  std::memcpy(&bytes, p, 4);
  return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(bytes)));
}

// Three bytes (one pixel) as the first three of four doubles; never reads past the pixel.
__attribute__((target("avx2"))) inline __m256d Pixel(const uint8_t* p) {
  // Put together in a register: three bytes copied into a four-byte variable would go through
  // memory, and reading it back waits for both stores (some 20 cycles a pixel).
  const int32_t bytes = p[0] | p[1] << 8 | p[2] << 16;
  return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(bytes)));
}

// Each sum rounded as FreeImage does, (int)(sum + 0.5) held to 0..255: four bytes.
__attribute__((target("avx2"))) inline int32_t Rounded(__m256d sums) {
  const __m128i whole = _mm256_cvttpd_epi32(_mm256_add_pd(sums, _mm256_set1_pd(0.5)));
  const __m128i words = _mm_packs_epi32(whole, whole);
  return _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
}

// Every row of from shrunk to toWidth pixels: per destination pixel the three channels as one
// vector, summed in the order FreeImage sums each. Four rows go together, so that four sums are
// on their way at a time instead of each waiting for its last addition. A pixel is read with the
// byte after it (a fourth sum, dropped) except in the last row in memory, where nothing may follow.
__attribute__((target("avx2"))) void Horizontal(FIBITMAP* from, unsigned rows, FIBITMAP* to, unsigned toWidth,
                                                const std::vector<Span>& spans) {
  unsigned y = 0;
  for (; y + 4 < rows; y += 4) {
    const uint8_t* source[4];
    uint8_t* target[4];
    for (unsigned r = 0; r < 4; ++r) {
      source[r] = FreeImage_GetScanLine(from, int(y + r));
      target[r] = FreeImage_GetScanLine(to, int(y + r));
    }
    for (unsigned x = 0; x < toWidth; ++x) {
      const Span& span = spans[x];
      size_t at = size_t(span.first) * 3;
      __m256d s0 = _mm256_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
      for (double w : span.weights) {
        const __m256d weight = _mm256_set1_pd(w);
        s0 = _mm256_add_pd(s0, _mm256_mul_pd(weight, Four(source[0] + at)));
        s1 = _mm256_add_pd(s1, _mm256_mul_pd(weight, Four(source[1] + at)));
        s2 = _mm256_add_pd(s2, _mm256_mul_pd(weight, Four(source[2] + at)));
        s3 = _mm256_add_pd(s3, _mm256_mul_pd(weight, Four(source[3] + at)));
        at += 3;
      }
      const int32_t b0 = Rounded(s0), b1 = Rounded(s1), b2 = Rounded(s2), b3 = Rounded(s3);
      std::memcpy(target[0] + size_t(x) * 3, &b0, 3);
      std::memcpy(target[1] + size_t(x) * 3, &b1, 3);
      std::memcpy(target[2] + size_t(x) * 3, &b2, 3);
      std::memcpy(target[3] + size_t(x) * 3, &b3, 3);
    }
  }
  for (; y < rows; ++y) {
    const uint8_t* source = FreeImage_GetScanLine(from, int(y));
    uint8_t* target = FreeImage_GetScanLine(to, int(y));
    for (unsigned x = 0; x < toWidth; ++x) {
      const Span& span = spans[x];
      const uint8_t* p = source + size_t(span.first) * 3;
      __m256d sum = _mm256_setzero_pd();
      for (double weight : span.weights) {
        sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_set1_pd(weight), Pixel(p)));
        p += 3;
      }
      const int32_t bytes = Rounded(sum);
      std::memcpy(target + size_t(x) * 3, &bytes, 3);
    }
  }
}

// Every column of from's rows shrunk to toRows rows: each byte of a row is a sum of its own, so
// four bytes go at a time.
__attribute__((target("avx2"))) void Vertical(FIBITMAP* from, FIBITMAP* to, unsigned toRows,
                                              const std::vector<Span>& spans) {
  const size_t bytes = size_t(FreeImage_GetWidth(to)) * 3;
  std::vector<const uint8_t*> rows;
  for (unsigned y = 0; y < toRows; ++y) {
    const Span& span = spans[y];
    rows.clear();
    for (size_t k = 0; k < span.weights.size(); ++k) rows.push_back(FreeImage_GetScanLine(from, int(span.first + k)));
    uint8_t* target = FreeImage_GetScanLine(to, int(y));
    size_t j = 0;
    for (; j + 8 <= bytes; j += 8) {
      __m256d low = _mm256_setzero_pd(), high = _mm256_setzero_pd();
      for (size_t k = 0; k < rows.size(); ++k) {
        const __m256d weight = _mm256_set1_pd(span.weights[k]);
        low = _mm256_add_pd(low, _mm256_mul_pd(weight, Four(rows[k] + j)));
        high = _mm256_add_pd(high, _mm256_mul_pd(weight, Four(rows[k] + j + 4)));
      }
      const int32_t a = Rounded(low), b = Rounded(high);
      std::memcpy(target + j, &a, 4);
      std::memcpy(target + j + 4, &b, 4);
    }
    for (; j < bytes; ++j) {
      double sum = 0;
      for (size_t k = 0; k < rows.size(); ++k) sum += span.weights[k] * double(rows[k][j]);
      target[j] = uint8_t(std::clamp(int(sum + 0.5), 0, 255));
    }
  }
}

}  // namespace

FIBITMAP* BoxRescale(FIBITMAP* picture, unsigned width, unsigned height) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  const unsigned fromWidth = FreeImage_GetWidth(picture), fromHeight = FreeImage_GetHeight(picture);
  // FreeImage shrinks the width first, into a picture of whole bytes, then the height.
  if (!avx2 || FreeImage_GetImageType(picture) != FIT_BITMAP || FreeImage_GetBPP(picture) != 24 || width == 0 ||
      height == 0 || width >= fromWidth || height == fromHeight)
    return FreeImage_Rescale(picture, int(width), int(height), FILTER_BOX);
  FIBITMAP* narrow = FreeImage_Allocate(int(width), int(fromHeight), 24);
  FIBITMAP* scaled = narrow ? FreeImage_Allocate(int(width), int(height), 24) : nullptr;
  if (!scaled) {
    FreeImage_Unload(narrow);
    return nullptr;
  }
  Horizontal(picture, fromHeight, narrow, width, BoxWeights(width, fromWidth));
  Vertical(narrow, scaled, height, BoxWeights(height, fromHeight));
  FreeImage_Unload(narrow);
  FreeImage_CloneMetadata(scaled, picture);
  return scaled;
}

}  // namespace torvo::upload
