#pragma once
// Surfaces with known pixels and a recorder of the processor's events, for the tests of the
// colour, noise, dithering and resampling operations.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "imaging/cDIBSection.h"
#include "imaging/cImageProcessDIB.h"

namespace torvo::colour_test {

struct Bgr {
  int blue, green, red;
  bool operator==(const Bgr&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Bgr& p) {
  return out << "BGR(" << p.blue << "," << p.green << "," << p.red << ")";
}

// Bytes that belong to no pixel are set to this, so tests can see that nothing wrote them.
constexpr uint8_t kPaddingMark = 0xA5;

inline std::unique_ptr<cDIBSection> NewSurface(int32_t width, int32_t height) {
  auto surface = std::make_unique<cDIBSection>();
  if (!surface->Create(width, height)) return nullptr;
  uint8_t* bits = surface->DIBSectionBitsPtr();
  for (int32_t y = 0; y < height; ++y)
    for (int32_t c = 3 * width; c < surface->BytesPerScanLine(); ++c)
      bits[static_cast<int64_t>(y) * surface->BytesPerScanLine() + c] = kPaddingMark;
  return surface;
}

inline uint8_t* PixelAt(const cDIBSection& s, int32_t x, int32_t scanLine) {
  return s.DIBSectionBitsPtr() + static_cast<int64_t>(scanLine) * s.BytesPerScanLine() + 3 * x;
}

inline Bgr GetPixel(const cDIBSection& s, int32_t x, int32_t scanLine) {
  const uint8_t* p = PixelAt(s, x, scanLine);
  return {p[0], p[1], p[2]};
}

inline void SetPixel(cDIBSection& s, int32_t x, int32_t scanLine, Bgr v) {
  uint8_t* p = PixelAt(s, x, scanLine);
  p[0] = static_cast<uint8_t>(v.blue);
  p[1] = static_cast<uint8_t>(v.green);
  p[2] = static_cast<uint8_t>(v.red);
}

// Pixels given as rows from the bottom scan line up, blue = green = red = the value.
inline std::unique_ptr<cDIBSection> GreySurface(const std::vector<std::vector<int>>& rows) {
  auto s = NewSurface(static_cast<int32_t>(rows[0].size()), static_cast<int32_t>(rows.size()));
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; x < rows[y].size(); ++x)
      SetPixel(*s, static_cast<int32_t>(x), static_cast<int32_t>(y), {rows[y][x], rows[y][x], rows[y][x]});
  return s;
}

// A repeatable picture of random bytes.
inline std::unique_ptr<cDIBSection> RandomSurface(int32_t width, int32_t height, uint32_t seed) {
  auto s = NewSurface(width, height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = PixelAt(*s, x, y);
      for (int k = 0; k < 3; ++k) {
        seed = seed * 1664525u + 1013904223u;
        p[k] = static_cast<uint8_t>(seed >> 24);
      }
    }
  }
  return s;
}

// Every byte of the pixel memory, padding included.
inline std::vector<uint8_t> AllBytes(const cDIBSection& s) {
  const uint8_t* bits = s.DIBSectionBitsPtr();
  return {bits, bits + static_cast<int64_t>(s.BytesPerScanLine()) * s.Height()};
}

inline std::unique_ptr<cDIBSection> Copy(const cDIBSection& s) {
  auto copy = NewSurface(s.Width(), s.Height());
  std::vector<uint8_t> bytes = AllBytes(s);
  std::copy(bytes.begin(), bytes.end(), copy->DIBSectionBitsPtr());
  return copy;
}

// The events a processor raised, as "I 6", "P 0", "P 3", "C".
class EventLog {
 public:
  explicit EventLog(cImageProcessDIB& processor) {
    processor.events.InitProgress = [this](int32_t lMax) { lines.push_back("I " + std::to_string(lMax)); };
    processor.events.Progress = [this](int32_t x) { lines.push_back("P " + std::to_string(x)); };
    processor.events.Complete = [this](int32_t) { lines.push_back("C"); };
  }
  std::vector<std::string> lines;
};

// The events of one complete in-place pass over a surface of the given width.
inline std::vector<std::string> PassEvents(int32_t width, bool complete = true) {
  std::vector<std::string> lines{"I " + std::to_string(3 * (width - 1))};
  for (int32_t x = 0; x < width; ++x) lines.push_back("P " + std::to_string(3 * x));
  if (complete) lines.push_back("C");
  return lines;
}

}  // namespace torvo::colour_test
