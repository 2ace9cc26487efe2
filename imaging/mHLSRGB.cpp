#include "imaging/mHLSRGB.h"

#include "platform/arithmetic.h"

namespace torvo::mHLSRGB {

namespace {
inline float Store(double v) { return static_cast<float>(v); }
}  // namespace

float MaxOf3(const float& a, const float& b, const float& c) {
  if (a > b) return a > c ? a : c;
  return b < c ? c : b;
}

float MinOf3(const float& a, const float& b, const float& c) {
  if (a < b) return a < c ? a : c;
  return b > c ? c : b;
}

void RGBToHLS(int32_t red, int32_t green, int32_t blue, float& h, float& s, float& l) {
  const float r = Store(red / 255.0);
  const float g = Store(green / 255.0);
  const float b = Store(blue / 255.0);
  const float max = MaxOf3(r, g, b);
  const float min = MinOf3(r, g, b);
  l = Store((double(max) + min) / 2);
  if (max == min) {
    s = 0;
    h = 0;
    return;
  }
  if (l <= 0.5)
    s = Store((double(max) - min) / (double(max) + min));
  else
    s = Store((double(max) - min) / (2.0 - max - min));
  const float d = Store(double(max) - min);
  // Exact comparisons in this order: red's formula wins a shared maximum, then green's.
  if (r == max)
    h = Store((double(g) - b) / d);
  else if (g == max)
    h = Store((double(b) - r) / d + 2);
  else
    h = Store((double(r) - g) / d + 4);
}

void HLSToRGB(float h, float s, float l, int32_t& red, int32_t& green, int32_t& blue) {
  float r, g, b;
  if (s == 0) {
    r = g = b = l;
  } else {
    const float min = l <= 0.5 ? Store(l * (1.0 - s)) : Store(l - (1.0 - l) * s);
    const float max = Store(2.0 * l - min);
    const double e = double(max) - min;
    if (h < 1) {
      r = max;
      if (h < 0) {
        g = min;
        b = Store(min - h * e);
      } else {
        b = min;
        g = Store(min + h * e);
      }
    } else if (h < 3) {
      g = max;
      if (h < 2) {
        b = min;
        r = Store(min - (h - 2.0) * e);
      } else {
        r = min;
        b = Store(min + (h - 2.0) * e);
      }
    } else {
      b = max;
      if (h < 4) {
        r = min;
        g = Store(min - (h - 4.0) * e);
      } else {
        g = min;
        r = Store(min + (h - 4.0) * e);
      }
    }
  }
  red = RoundToInt32(r * 255.0);
  green = RoundToInt32(g * 255.0);
  blue = RoundToInt32(b * 255.0);
}

}  // namespace torvo::mHLSRGB
