// Combining two surfaces pixel by pixel: keep the lighter or the darker pixel, or a weighted sum
// with offsets. cTo sets the extent; cFrom is lined up at its bottom-left corner.
#include <algorithm>

#include "imaging/cImageProcessDIB.h"
#include "imaging/pixel_grid.h"
#include "platform/arithmetic.h"

namespace torvo {

namespace {

inline int32_t Brightness(int32_t red, int32_t green, int32_t blue) {
  return 222 * red + 707 * green + 71 * blue;
}

// Whether every pixel of cTo has its counterpart inside cFrom, so the operation cannot stop
// part-way and may run a scan line at a time (each pixel depends only on its own two pixels).
bool WholeExtentFits(const cDIBSection& cFrom, const cDIBSection& cTo) {
  if (!cFrom.DIBSectionBitsPtr() || !cTo.DIBSectionBitsPtr()) return false;
  if (cTo.Width() <= 0 || cTo.Height() <= 0) return false;
  return cFrom.BytesPerScanLine() >= 3 * int64_t{cTo.Width()} && cFrom.Height() >= cTo.Height();
}

// Keeps in cTo the cFrom pixel when replace(brightness of cFrom, brightness of cTo) holds.
template <typename Replace>
void KeepByBrightness(cDIBSection& cFrom, cDIBSection& cTo, Replace replace) {
  const int32_t width = cTo.Width(), height = cTo.Height();
  if (WholeExtentFits(cFrom, cTo)) {
    const int32_t fromStride = cFrom.BytesPerScanLine(), toStride = cTo.BytesPerScanLine();
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* from = cFrom.DIBSectionBitsPtr() + static_cast<int64_t>(y) * fromStride;
      uint8_t* to = cTo.DIBSectionBitsPtr() + static_cast<int64_t>(y) * toStride;
      for (int32_t x = 0; x < 3 * width; x += 3) {
        if (replace(Brightness(from[x + 2], from[x + 1], from[x]),
                    Brightness(to[x + 2], to[x + 1], to[x]))) {
          to[x] = from[x];
          to[x + 1] = from[x + 1];
          to[x + 2] = from[x + 2];
        }
      }
    }
    return;
  }
  const PixelGrid from(cFrom), to(cTo);
  const int32_t xLast = CheckedMul(3, CheckedSub(width, 1));
  for (int64_t column = 0; column <= xLast; column += 3) {
    const auto x = static_cast<int32_t>(column);
    for (int32_t y = 0; y < height; ++y) {
      const int32_t fromBrightness = Brightness(from.Get(x + 2, y), from.Get(x + 1, y), from.Get(x, y));
      const int32_t toBrightness = Brightness(to.Get(x + 2, y), to.Get(x + 1, y), to.Get(x, y));
      if (replace(fromBrightness, toBrightness)) {
        to.Set(x, y, from.Get(x, y));
        to.Set(x + 1, y, from.Get(x + 1, y));
        to.Set(x + 2, y, from.Get(x + 2, y));
      }
    }
  }
}

// Whether (v + offset) x multiplier leaves 32 bits for no byte v: the term is linear in v, so its
// ends at v = 0 and v = 255 bound it.
bool TermBounds(int32_t offset, int32_t multiplier, int64_t& low, int64_t& high) {
  low = INT64_MAX;
  high = INT64_MIN;
  for (int64_t v : {int64_t{0}, int64_t{255}}) {
    const int64_t sum = v + offset;
    if (sum > INT32_MAX || sum < INT32_MIN) return false;
    const int64_t product = sum * multiplier;
    if (product > INT32_MAX || product < INT32_MIN) return false;
    low = std::min(low, product);
    high = std::max(high, product);
  }
  return true;
}

}  // namespace

void cImageProcessDIB::AddLightest(cDIBSection& cFrom, cDIBSection& cTo) {
  KeepByBrightness(cFrom, cTo, [](int32_t from, int32_t to) { return from > to; });
}

void cImageProcessDIB::AddDarkest(cDIBSection& cFrom, cDIBSection& cTo) {
  KeepByBrightness(cFrom, cTo, [](int32_t from, int32_t to) { return from < to; });
}

bool cImageProcessDIB::AddImages(cDIBSection& cFrom, cDIBSection& cTo, int32_t lFromMultiplier,
                                 int32_t lFromOffsetR, int32_t lFromOffsetG,
                                 int32_t lFromOffsetB, int32_t lToMultiplier,
                                 int32_t lToOffsetR, int32_t lToOffsetG, int32_t lToOffsetB) {
  // Offsets by stored byte: blue, green, red.
  const int32_t fromOffset[3] = {lFromOffsetB, lFromOffsetG, lFromOffsetR};
  const int32_t toOffset[3] = {lToOffsetB, lToOffsetG, lToOffsetR};
  const int32_t width = cTo.Width(), height = cTo.Height();

  bool cannotOverflow = true;
  for (int32_t c = 0; c < 3 && cannotOverflow; ++c) {
    int64_t fromLow, fromHigh, toLow, toHigh;
    cannotOverflow = TermBounds(fromOffset[c], lFromMultiplier, fromLow, fromHigh) &&
                     TermBounds(toOffset[c], lToMultiplier, toLow, toHigh) &&
                     fromLow + toLow >= INT32_MIN && fromHigh + toHigh <= INT32_MAX;
  }
  if (cannotOverflow && WholeExtentFits(cFrom, cTo)) {
    const int32_t fromStride = cFrom.BytesPerScanLine(), toStride = cTo.BytesPerScanLine();
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* from = cFrom.DIBSectionBitsPtr() + static_cast<int64_t>(y) * fromStride;
      uint8_t* to = cTo.DIBSectionBitsPtr() + static_cast<int64_t>(y) * toStride;
      for (int32_t x = 0; x < 3 * width; x += 3) {
        int32_t value[3];
        for (int32_t c = 0; c < 3; ++c) {
          value[c] = (from[x + c] + fromOffset[c]) * lFromMultiplier +
                     (to[x + c] + toOffset[c]) * lToMultiplier;
        }
        for (int32_t c = 0; c < 3; ++c) to[x + c] = static_cast<uint8_t>(ClampToByteRange(value[c]));
      }
    }
    return false;
  }

  const PixelGrid from(cFrom), to(cTo);
  const int32_t xLast = CheckedMul(3, CheckedSub(width, 1));
  for (int64_t column = 0; column <= xLast; column += 3) {
    const auto x = static_cast<int32_t>(column);
    for (int32_t y = 0; y < height; ++y) {
      int32_t value[3];
      for (int32_t c = 0; c < 3; ++c) {
        const int32_t fromTerm = CheckedMul(CheckedAdd(from.Get(x + c, y), fromOffset[c]), lFromMultiplier);
        const int32_t toTerm = CheckedMul(CheckedAdd(to.Get(x + c, y), toOffset[c]), lToMultiplier);
        value[c] = CheckedAdd(fromTerm, toTerm);
      }
      for (int32_t c = 0; c < 3; ++c) to.Set(x + c, y, static_cast<uint8_t>(ClampToByteRange(value[c])));
    }
  }
  return false;
}

}  // namespace torvo
