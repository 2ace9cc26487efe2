#include <gtest/gtest.h>

#include "imaging/cImageProcessDIB.h"
#include "imaging/mHLSRGB.h"
#include "imaging/tests/colour_test_support.h"
#include "platform/error.h"

namespace torvo {
namespace {

using namespace colour_test;

TEST(Lighten, ScalesTheLightness) {
  struct Case {
    int32_t amount;
    Bgr in, out;
  };
  const Case cases[] = {
      {-50, {255, 255, 255}, {128, 128, 128}},
      {-100, {30, 200, 90}, {0, 0, 0}},
      {-100, {255, 255, 255}, {0, 0, 0}},
      {0, {0, 0, 0}, {0, 0, 0}},
      {250, {0, 0, 0}, {0, 0, 0}},
      {250, {255, 255, 255}, {255, 255, 255}},
      {100, {0, 0, 128}, {1, 1, 255}},         // dark red doubled: l 0.251 -> 0.502
      {100, {0, 0, 64}, {0, 0, 128}},          // l 0.125 -> 0.25 keeps hue and saturation
      {-50, {0, 255, 0}, {0, 128, 0}},
  };
  for (const auto& c : cases) {
    auto s = NewSurface(1, 1);
    SetPixel(*s, 0, 0, c.in);
    cImageProcessDIB processor;
    processor.Lighten(*s, c.amount);
    EXPECT_EQ(GetPixel(*s, 0, 0), c.out) << c.amount << " " << c.in;
  }
}

// Nought changes no pixel: every colour survives the trip through the model. The picture is wide
// enough to span several column bands, and the bytes after the last pixel stay as they were.
TEST(Lighten, NoughtLeavesAWidePictureAsItWas) {
  auto s = RandomSurface(1030, 3, 99);
  auto before = AllBytes(*s);
  cImageProcessDIB processor;
  EventLog log(processor);
  processor.Lighten(*s, 0);
  EXPECT_EQ(AllBytes(*s), before);
  EXPECT_EQ(log.lines, PassEvents(1030));
}

TEST(Lighten, EveryPixelOfAWidePictureChangesOnce) {
  auto s = RandomSurface(1100, 2, 5);
  auto before = Copy(*s);
  cImageProcessDIB processor;
  processor.Lighten(*s, 37);
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < 1100; ++x) {
      const Bgr p = GetPixel(*before, x, y);
      float h, sat, l;
      mHLSRGB::RGBToHLS(p.red, p.green, p.blue, h, sat, l);
      l = static_cast<float>(l * 1.37);
      if (l > 1) l = 1;
      int32_t r, g, b;
      mHLSRGB::HLSToRGB(h, sat, l, r, g, b);
      ASSERT_EQ(GetPixel(*s, x, y), (Bgr{b, g, r})) << x << "," << y;
    }
  }
}

// Below -100 the lightness turns negative: the first pixel that is not black fails at its blue
// byte; the pixels before it (column by column, bottom up) are changed, the rest are not.
TEST(Lighten, BelowMinusHundredStopsAtTheFirstPixelThatIsNotBlack) {
  auto s = GreySurface({{0, 0, 40}, {0, 100, 50}});
  cImageProcessDIB processor;
  EventLog log(processor);
  try {
    processor.Lighten(*s, -120);
    ADD_FAILURE();
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), 6);
  }
  EXPECT_EQ(GetPixel(*s, 1, 1), (Bgr{100, 100, 100}));
  EXPECT_EQ(GetPixel(*s, 2, 0), (Bgr{40, 40, 40}));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"I 6", "P 0"}));
}

TEST(Colourise, GivesEveryPixelOneHue) {
  struct Case {
    float hue;
    Bgr in, out;
  };
  const Case cases[] = {
      {2, {0, 0, 255}, {64, 191, 64}},       // exactly red: saturation becomes 0.5
      {0, {0, 255, 0}, {0, 0, 255}},         // green keeps saturation 1
      {4, {128, 128, 128}, {191, 65, 65}},   // grey: half saturation
      {1, {0, 0, 0}, {0, 0, 0}},
      {3, {255, 255, 255}, {255, 255, 255}},
      {-1, {10, 200, 60}, {200, 10, 200}},
      {5, {10, 200, 60}, {200, 10, 200}},
      {1.5f, {40, 90, 160}, {40, 160, 100}},
  };
  for (const auto& c : cases) {
    auto s = NewSurface(1, 1);
    SetPixel(*s, 0, 0, c.in);
    cImageProcessDIB processor;
    processor.Colourise(*s, c.hue, 0.8f);
    EXPECT_EQ(GetPixel(*s, 0, 0), c.out) << c.hue << " " << c.in;
  }
}

// A hue off the circle gives components outside 0..255: blue and green are written, red fails.
TEST(Colourise, HueOffTheCircleStopsAtTheFirstByteThatDoesNotFit) {
  auto s = GreySurface({{128, 128}});
  cImageProcessDIB processor;
  EventLog log(processor);
  try {
    processor.Colourise(*s, 6, 0);
    ADD_FAILURE();
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), 6);
  }
  EXPECT_EQ(GetPixel(*s, 0, 0), (Bgr{191, 65, 128}));
  EXPECT_EQ(GetPixel(*s, 1, 0), (Bgr{128, 128, 128}));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"I 3"}));
}

}  // namespace
}  // namespace torvo
