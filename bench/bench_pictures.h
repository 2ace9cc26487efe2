#pragma once
// The pictures the imaging benchmarks work on.
#include <algorithm>
#include <cstdint>
#include <memory>

#include "imaging/cDIBSection.h"

namespace torvo::bench {

// A gradient with grain: neither flat nor pure noise, as a photograph's pixels are.
inline std::unique_ptr<cDIBSection> Photo(int32_t width, int32_t height, uint32_t seed = 7) {
  auto s = std::make_unique<cDIBSection>();
  if (!s->Create(width, height)) return nullptr;
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* line = s->DIBSectionBitsPtr() + static_cast<int64_t>(y) * s->BytesPerScanLine();
    for (int32_t x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int grain = static_cast<int>(seed >> 28) - 8;
      line[3 * x] = static_cast<uint8_t>(std::clamp(x * 255 / width + grain, 0, 255));
      line[3 * x + 1] = static_cast<uint8_t>(std::clamp(y * 255 / height + grain, 0, 255));
      line[3 * x + 2] = static_cast<uint8_t>(std::clamp((x + y) * 127 / (width + height) + 64 + grain, 0, 255));
    }
  }
  return s;
}

}  // namespace torvo::bench
