#pragma once
// The nearest-colour search behind cPalette::ClosestIndex, over colours held as 16-bit lanes and
// padded to a multiple of kBlock entries (padding lies far from every colour). Each form returns
// the 0-based index of the entry with the smallest sum of absolute channel differences, the lowest
// on ties. Declared here so tests can hold every form against the others.
#include <cstddef>
#include <cstdint>

namespace torvo::nearest_colour {

constexpr size_t kBlock = 16;
constexpr int16_t kFarAway = 0x3000;  // |0..255 - kFarAway| alone exceeds any real distance

using Search = size_t (*)(const int16_t* red, const int16_t* green, const int16_t* blue,
                          size_t padded, int16_t r, int16_t g, int16_t b);

size_t Scalar(const int16_t* red, const int16_t* green, const int16_t* blue, size_t padded,
              int16_t r, int16_t g, int16_t b);
// Null where the processor lacks the instructions.
Search Sse2();
Search Avx2();
// The best form this processor has.
Search Best();

}  // namespace torvo::nearest_colour
