#pragma once
// The pipeline benchmarks' capture: a 1920 x 1080 screen-like picture, text-like stripes on a
// gradient, the same in every benchmark so their figures compare.
#include <cstdint>
#include <memory>

#include "platform/gdi/gdi.h"

namespace torvo::upload::bench {

inline std::unique_ptr<gdi::Bitmap> ScreenLikePicture() {
  auto b = gdi::Bitmap::Create(1920, 1080, 24);
  for (int32_t y = 0; y < 1080; ++y) {
    uint8_t* row = b->TopDownRow(y);
    for (int32_t x = 0; x < 1920; ++x) {
      bool ink = (y % 18 < 12) && ((x / 7 + y / 18) % 5 != 0) && (x % 7 < 5);
      row[3 * x] = static_cast<uint8_t>(ink ? 30 : 240 - x / 16);
      row[3 * x + 1] = static_cast<uint8_t>(ink ? 30 : 240 - y / 9);
      row[3 * x + 2] = static_cast<uint8_t>(ink ? 60 : 250);
    }
  }
  return b;
}

}  // namespace torvo::upload::bench
