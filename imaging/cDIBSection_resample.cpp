// Resized copies by bilinear interpolation.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "imaging/cDIBSection.h"
#include "platform/arithmetic.h"
#include "platform/error.h"

namespace torvo {

namespace {

// Nearest integer, halves to even, for the small non-negative values interpolation gives: adding
// and taking away 1.5 x 2^52 leaves the rounded value under the default rounding mode.
inline int32_t RoundSmall(double v) {
  constexpr double kShift = 6755399441055744.0;
  return static_cast<int32_t>((v + kShift) - kShift);
}

}  // namespace

std::unique_ptr<cDIBSection> cDIBSection::Resample(int32_t lNewHeight, int32_t lNewWidth) {
  auto result = std::make_unique<cDIBSection>();
  if (!result->Create(lNewWidth, lNewHeight)) return nullptr;
  if (lNewWidth == Width() && lNewHeight == Height())
    result->LoadPictureBlt(hdc(), 0, 0, -1, -1, gdi::SRCCOPY);
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

  // Where each destination column samples: byte offsets of its two source columns and the
  // weights of each. A source one pixel wide has no second column: the one column serves for
  // both (its weight is 0 then anyway), so nothing outside the source is read.
  struct Sample {
    int32_t left, right;
    double leftWeight, rightWeight;
  };
  std::vector<Sample> samples(static_cast<size_t>(width));
  for (int32_t x = 0; x < width; ++x) {
    const float fx = static_cast<float>(static_cast<double>(xScale) * x);
    const double x0 = std::floor(fx);
    const float tx = static_cast<float>(fx - x0);
    const int32_t column = std::min(static_cast<int32_t>(x0), sourceWidth - 1);
    samples[x] = {3 * column, 3 * std::min(column + 1, sourceWidth - 1), 1.0 - tx, tx};
  }

  // One destination scan line at a time: first every source byte column interpolated between
  // the two source scan lines, then each destination byte from its two columns.
  std::vector<int32_t> vertical(3 * static_cast<size_t>(sourceWidth));
  for (int32_t y = 0; y < height; ++y) {
    const float fy = static_cast<float>(static_cast<double>(yScale) * y);
    const double y0 = std::floor(fy);
    const float ty = static_cast<float>(fy - y0);
    const int32_t line = std::min(static_cast<int32_t>(y0), sourceHeight - 1);
    const uint8_t* below = lBitsPtr + static_cast<int64_t>(line) * sourceStride;
    const uint8_t* above = lBitsPtr + static_cast<int64_t>(std::min(line + 1, sourceHeight - 1)) * sourceStride;
    const double belowWeight = 1.0 - ty;
    const double aboveWeight = ty;
    for (int32_t c = 0; c < 3 * sourceWidth; ++c)
      vertical[c] = RoundSmall(belowWeight * below[c] + aboveWeight * above[c]);

    uint8_t* out = destination.lBitsPtr + static_cast<int64_t>(y) * stride;
    for (int32_t x = 0; x < width; ++x) {
      const Sample& s = samples[x];
      for (int32_t k = 0; k < 3; ++k) {
        const int32_t v = RoundSmall(s.leftWeight * vertical[s.left + k] + s.rightWeight * vertical[s.right + k]);
        out[3 * x + k] = static_cast<uint8_t>(ClampToByteRange(v));
      }
    }
  }
}

}  // namespace torvo
