#include "imaging/mHLSRGB.h"

#include <gtest/gtest.h>

#include "platform/error.h"

namespace torvo {
namespace {

using mHLSRGB::HLSToRGB;
using mHLSRGB::RGBToHLS;

TEST(mHLSRGB, PrimaryAndSecondaryColours) {
  struct Case {
    int32_t red, green, blue;
    float h, s, l;
  };
  const Case cases[] = {
      {255, 0, 0, 0, 1, 0.5f},   {0, 255, 0, 2, 1, 0.5f},   {0, 0, 255, 4, 1, 0.5f},
      {255, 255, 0, 1, 1, 0.5f}, {0, 255, 255, 3, 1, 0.5f}, {255, 0, 255, -1, 1, 0.5f},
      {0, 0, 0, 0, 0, 0},        {255, 255, 255, 0, 0, 1},  {128, 128, 128, 0, 0, 128 / 255.0f},
  };
  for (const auto& c : cases) {
    float h = -9, s = -9, l = -9;
    RGBToHLS(c.red, c.green, c.blue, h, s, l);
    EXPECT_EQ(h, c.h) << c.red << "," << c.green << "," << c.blue;
    EXPECT_EQ(s, c.s) << c.red << "," << c.green << "," << c.blue;
    EXPECT_EQ(l, c.l) << c.red << "," << c.green << "," << c.blue;
  }
}

TEST(mHLSRGB, BackToRedGreenBlue) {
  struct Case {
    float h, s, l;
    int32_t red, green, blue;
  };
  const Case cases[] = {
      {0, 1, 0.5f, 255, 0, 0},
      {3, 0, 0.5f, 128, 128, 128},  // 127.5 goes to the even neighbour
      {2, 0.5f, 0.5f, 64, 191, 64},
      {-1, 1, 0.5f, 255, 0, 255},
      // Nothing is clamped: a hue past the circle gives components outside 0..255.
      {6, 0.5f, 0.5f, 319, 64, 191},
      {0, 0, -0.5f, -128, -128, -128},
  };
  for (const auto& c : cases) {
    int32_t red = 0, green = 0, blue = 0;
    HLSToRGB(c.h, c.s, c.l, red, green, blue);
    EXPECT_EQ(red, c.red) << c.h << "," << c.s << "," << c.l;
    EXPECT_EQ(green, c.green) << c.h << "," << c.s << "," << c.l;
    EXPECT_EQ(blue, c.blue) << c.h << "," << c.s << "," << c.l;
  }
  int32_t red, green, blue;
  EXPECT_THROW(HLSToRGB(0, 0, 1e30f, red, green, blue), TorvoError);
}

TEST(mHLSRGB, MaxAndMinOfThree) {
  const float triples[][3] = {{1, 2, 3}, {3, 2, 1}, {2, 3, 1}, {2, 1, 3}, {2, 2, 1}, {1, 2, 2}, {5, 5, 5}};
  for (const auto& t : triples) {
    EXPECT_EQ(mHLSRGB::MaxOf3(t[0], t[1], t[2]), std::max({t[0], t[1], t[2]}));
    EXPECT_EQ(mHLSRGB::MinOf3(t[0], t[1], t[2]), std::min({t[0], t[1], t[2]}));
  }
}

// Every one of the 16,777,216 colours survives the trip to HLS and back.
TEST(mHLSRGB, EveryColourRoundTrips) {
  int64_t failures = 0;
  for (int32_t red = 0; red < 256; ++red) {
    for (int32_t green = 0; green < 256; ++green) {
      for (int32_t blue = 0; blue < 256; ++blue) {
        float h, s, l;
        RGBToHLS(red, green, blue, h, s, l);
        int32_t r2, g2, b2;
        HLSToRGB(h, s, l, r2, g2, b2);
        if (r2 != red || g2 != green || b2 != blue) {
          if (failures++ < 5) ADD_FAILURE() << red << "," << green << "," << blue << " -> " << r2 << "," << g2 << "," << b2;
        }
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace torvo
