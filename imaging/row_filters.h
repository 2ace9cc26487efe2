#pragma once
// Kernel and 3 x 3 neighbourhood filters computed a whole scan line at a time, for the passes of
// the image processor when nothing can go wrong part-way (no overflow, every write in range).
// They give exactly the bytes of the pixel-by-pixel passes; only the order of work differs.
//
// A row function fills output bytes [first, first + count) of one scan line, where rows[k] is
// the source scan line y + k - half. Byte b of the output reads source bytes b + 3i of the
// neighbouring scan lines, so the three channels need no separate treatment.
#include <cstdint>
#include <optional>
#include <vector>

namespace torvo::row_filters {

struct NarrowKernel;

class KernelRows {
 public:
  // kernel[(j + half) * size + (i + half)] is the coefficient of the pixel i to the right and
  // j scan lines up; weight must not be 0. Empty when some sum could leave 32 bits, since the
  // pixel-by-pixel pass must then stop at the exact pixel that overflows.
  static std::optional<KernelRows> Prepare(const std::vector<int32_t>& kernel, int32_t half,
                                           int32_t weight);

  void Run(const uint8_t* const* rows, uint8_t* out, int32_t first, int32_t count) const;

  // A whole picture of width x height pixels, scan lines stride bytes apart, filtered in place
  // with its frame of one pixel kept, and the result also copied into buffer (the same layout):
  // one sweep that reads each source line from memory once. With stream, buffer is written past
  // the caches. False, with nothing touched, where this kernel or the processor has no such form.
  bool SweepInPlace(uint8_t* image, uint8_t* buffer, int64_t stride, int32_t width, int32_t height,
                    bool stream) const;

 private:
  struct Tap {
    int32_t row;          // index into rows
    int32_t offset;       // 3 x horizontal offset
    int32_t coefficient;  // multiplied by the sign of the weight on the 16-bit path
  };
  void RunScalar(const uint8_t* const* rows, uint8_t* out, int32_t first, int32_t end) const;
  void RunVector(const uint8_t* const* rows, uint8_t* out, int32_t first, int32_t end) const;
  void FillNarrow(const uint8_t* const* rows, NarrowKernel& kernel) const;

  std::vector<Tap> taps;
  int32_t weight = 1;
  // 16-bit path: every sum fits 16 bits. t = sum x sign(weight) is clamped to 0..limit, and
  // t / |weight| is (t x magic) >> (16 + shift), checked against true division for every t.
  bool narrow = false;
  int32_t divisor = 1;
  int32_t limit = 0;
  bool identity = false;  // |weight| 1: the clamp alone gives the byte
  bool haveMagic = false;
  uint16_t magic = 0;
  int32_t shift = 0;
  // 3 x 3 with the eight outer coefficients equal (x the sign of the weight, as above).
  bool boxAndCentre = false;
  int32_t around = 0, centre = 0;
};

// Per-channel minimum (takeMinimum) or maximum of the 3 x 3 neighbourhood; rows as above, half 1.
void MinMaxRow(const uint8_t* const* rows, uint8_t* out, int32_t first, int32_t count,
               bool takeMinimum);

}  // namespace torvo::row_filters
