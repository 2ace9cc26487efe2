#pragma once
// The 16-bit kernel row in the form the vector code takes it: plain arrays, no library types, so
// the file built for wider vectors shares no inline code with the rest of the program.
#include <cstdint>

namespace torvo::row_filters {

struct NarrowKernel {
  // Taps whose coefficient is +1, -1, and any other value; pointers already offset to the tap.
  const uint8_t* plus[81];
  const uint8_t* minus[81];
  const uint8_t* other[81];
  int16_t otherCoefficient[81];
  int32_t plusCount = 0, minusCount = 0, otherCount = 0;
  int16_t limit = 0;      // sums are clamped to 0..limit before dividing
  bool identity = false;  // divisor 1: the clamp alone gives the byte
  uint16_t magic = 0;     // t / divisor == (t * magic) >> (16 + shift) for every t in 0..limit
  int32_t shift = 0;
  // A 3 x 3 kernel whose eight outer coefficients are one value (the blur, the sharpening, the
  // average): the sum is around x (its 3 x 3 box) + centreExtra x (the centre pixel), and the
  // box comes from column sums shared by neighbouring outputs. lines[k] is rows[k] itself.
  bool boxAndCentre = false;
  const uint8_t* lines[3] = {};
  int16_t around = 0, centreExtra = 0;
};

// A whole picture filtered in place by a kernel with boxAndCentre set, its result also written to a
// second surface of the same layout: the end state of "copy image to buffer, filter image into
// buffer, copy buffer back" in one sweep that reads each source byte from memory once. Lines are
// `stride` bytes apart, `width` pixels (at least kBoxSweepMinimumWidth) by `height` (at least 3).
struct BoxAndCentreSweep {
  uint8_t* image = nullptr;
  uint8_t* buffer = nullptr;
  int64_t stride = 0;
  int32_t width = 0, height = 0;
  // 3 x (3 x width + 64) bytes of scratch: the source lines the sweep has already overwritten.
  uint8_t* saved = nullptr;
  // Write the buffer past the caches (for pictures far larger than them).
  bool stream = false;
  int16_t around = 0, centreExtra = 0, limit = 0;
  bool identity = false;
  uint16_t magic = 0;
  int32_t shift = 0;
};
constexpr int32_t kBoxSweepMinimumWidth = 48;
void SweepBoxAndCentreAvx2(const BoxAndCentreSweep& sweep);
void SweepBoxAndCentreAvx512(const BoxAndCentreSweep& sweep);

// Output bytes [first, end) of one line, end - first at least 32. Defined in the file built for
// AVX2; call only where the processor has it.
void RunNarrowAvx2(const NarrowKernel& kernel, uint8_t* out, int32_t first, int32_t end);
// The same for a kernel with boxAndCentre set.
void RunBoxAndCentreAvx2(const NarrowKernel& kernel, uint8_t* out, int32_t first, int32_t end);

}  // namespace torvo::row_filters
