#pragma once
// Per-pixel operations in place, where no pixel's result depends on another's and nothing can
// fail part-way, give the same bytes in any order. The processor's order (a whole pixel column,
// bottom to top, then the next) walks memory across scan lines; this visits the picture in bands
// of columns instead, scan line by scan line inside a band, and reports each column of a band as
// finished once the band is done, so listeners still see every column in order. Memory likes
// whole scan lines best (kWholeLines); narrower bands let slow operations report progress as
// they go.
#include <algorithm>
#include <climits>
#include <cstdint>

namespace torvo::column_bands {

constexpr int32_t kWholeLines = INT32_MAX;

// segment(bytes of the band's first pixel in one scan line, pixel count) for every scan line of
// every band of bandPixels columns, then finished(byte column) for each column of that band.
template <typename Segment, typename Finished>
void ForEachBand(uint8_t* bits, int32_t bytesPerScanLine, int32_t width, int32_t height,
                 int32_t bandPixels, Segment&& segment, Finished&& finished) {
  // (std::min) in brackets: <windows.h> defines min as a macro.
  for (int32_t first = 0; first < width; first += (std::min)(bandPixels, width - first)) {
    const int32_t count = (std::min)(bandPixels, width - first);
    uint8_t* line = bits + 3 * static_cast<int64_t>(first);
    for (int32_t y = 0; y < height; ++y, line += bytesPerScanLine) segment(line, count);
    for (int32_t c = first; c < first + count; ++c) finished(3 * c);
  }
}

}  // namespace torvo::column_bands
