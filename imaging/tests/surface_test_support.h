#pragma once
// Surfaces with known bytes and a recorder of the processor's events, for the surface, filter
// and combining tests.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/cDIBSection.h"
#include "imaging/cImageProcessDIB.h"

namespace torvo::surface_test {

// Bytes after the last pixel of each scan line start as this, so tests see who writes them.
constexpr uint8_t kPadding = 0x5A;

inline uint8_t* Byte(const cDIBSection& s, int32_t column, int32_t scanLine) {
  return s.DIBSectionBitsPtr() + static_cast<int64_t>(scanLine) * s.BytesPerScanLine() + column;
}

// A surface whose every byte is value, padding marked.
inline std::unique_ptr<cDIBSection> Flat(int32_t width, int32_t height, uint8_t value) {
  auto s = std::make_unique<cDIBSection>();
  if (!s->Create(width, height)) return nullptr;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t c = 0; c < s->BytesPerScanLine(); ++c)
      *Byte(*s, c, y) = c < 3 * width ? value : kPadding;
  return s;
}

// A repeatable picture of random bytes (padding marked).
inline std::unique_ptr<cDIBSection> Random(int32_t width, int32_t height, uint32_t seed) {
  auto s = Flat(width, height, 0);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t c = 0; c < 3 * width; ++c) {
      seed = seed * 1664525u + 1013904223u;
      *Byte(*s, c, y) = static_cast<uint8_t>(seed >> 24);
    }
  }
  return s;
}

inline void SetPixel(cDIBSection& s, int32_t x, int32_t scanLine, uint8_t blue, uint8_t green,
                     uint8_t red) {
  uint8_t* p = Byte(s, 3 * x, scanLine);
  p[0] = blue;
  p[1] = green;
  p[2] = red;
}

// Every byte of the pixel memory, padding included.
inline std::vector<uint8_t> AllBytes(const cDIBSection& s) {
  const uint8_t* bits = s.DIBSectionBitsPtr();
  return {bits, bits + static_cast<int64_t>(s.BytesPerScanLine()) * s.Height()};
}

// Blue bytes as rows from the bottom scan line up.
inline std::vector<std::vector<int>> BlueRows(const cDIBSection& s) {
  std::vector<std::vector<int>> rows(static_cast<size_t>(s.Height()));
  for (int32_t y = 0; y < s.Height(); ++y)
    for (int32_t x = 0; x < s.Width(); ++x) rows[static_cast<size_t>(y)].push_back(*Byte(s, 3 * x, y));
  return rows;
}

// A copy of every byte, padding included.
inline std::unique_ptr<cDIBSection> Clone(const cDIBSection& s) {
  auto copy = Flat(s.Width(), s.Height(), 0);
  std::vector<uint8_t> bytes = AllBytes(s);
  std::copy(bytes.begin(), bytes.end(), copy->DIBSectionBitsPtr());
  return copy;
}

// The events a processor raises, as "I 6", "P 0", "P 3", "C".
class EventLog {
 public:
  explicit EventLog(cImageProcessDIB& processor) {
    processor.events.InitProgress = [this](int32_t lMax) { lines.push_back("I " + std::to_string(lMax)); };
    processor.events.Progress = [this](int32_t x) { lines.push_back("P " + std::to_string(x)); };
    processor.events.Complete = [this](int32_t ms) {
      lines.push_back("C");
      lastTime = ms;
    };
  }
  std::vector<std::string> lines;
  int32_t lastTime = -1;
};

// The events of a pass over byte columns first, first + 3, ..., last.
inline std::vector<std::string> PassEvents(int32_t first, int32_t last, bool complete = true) {
  std::vector<std::string> lines{"I " + std::to_string(last)};
  for (int32_t x = first; x <= last; x += 3) lines.push_back("P " + std::to_string(x));
  if (complete) lines.push_back("C");
  return lines;
}

}  // namespace torvo::surface_test
