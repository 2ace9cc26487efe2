#pragma once
// How big the uploaded thumbnail is: 200 pixels wide for a landscape capture, 160 high otherwise,
// the other side in proportion and rounded down (a landscape thumbnail may be more than 160 high,
// and a small capture is enlarged).
#include <cstdint>

namespace torvo::upload {

struct ThumbnailExtent {
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const ThumbnailExtent&) const = default;
};

// W and H are the capture's sides as signed 16-bit numbers. A side that would round down to 0
// pixels (a very thin capture) is 1. A side that is not positive raises division by zero (11).
ThumbnailExtent ThumbnailSize(int16_t W, int16_t H);

}  // namespace torvo::upload
