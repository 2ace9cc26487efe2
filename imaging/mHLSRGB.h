#pragma once
// The HLS colour model in single precision. Hue is counted in sixths of the colour circle:
// 0 red, 1 yellow, 2 green, 3 cyan, 4 blue, 5 and -1 magenta; grey has hue 0 and saturation 0.
// Each step is worked out in double precision and rounded to single precision only where it is
// stored, so conversions give the same bytes everywhere.
#include <cstdint>

namespace torvo::mHLSRGB {

void RGBToHLS(int32_t red, int32_t green, int32_t blue, float& h, float& s, float& l);

// Components come back rounded half-even but not clamped: values outside the model's ranges
// give components outside 0..255. Rounding past the 32-bit range raises the overflow error (6).
void HLSToRGB(float h, float s, float l, int32_t& red, int32_t& green, int32_t& blue);

float MaxOf3(const float& a, const float& b, const float& c);
float MinOf3(const float& a, const float& b, const float& c);

}  // namespace torvo::mHLSRGB
