#include <gtest/gtest.h>

#include <cmath>

#include "imaging/cImageProcessDIB.h"
#include "imaging/tests/colour_test_support.h"
#include "imaging/vector_forms.h"
#include "platform/error.h"

namespace torvo {
namespace {

using namespace colour_test;

TEST(GrayScale, WeightedBrightnessRoundedHalfToEven) {
  struct Case {
    Bgr in;
    int grey;
  };
  const Case cases[] = {
      {{0, 0, 255}, 57},    {{0, 255, 0}, 180},    {{255, 0, 0}, 18},  {{255, 255, 255}, 255},
      {{128, 128, 128}, 128}, {{19, 1, 2}, 2},     // 2500 thousandths: the even neighbour 2
      {{18, 0, 1}, 2},      // 1500: 2
      {{0, 0, 0}, 0},       {{5, 1, 9}, 3},        // 3060: 3
  };
  // Repeat the cases along a row long enough for the wide path and its leftover pixels, and on a
  // second scan line shifted by one, so every case lands on every lane position.
  const int32_t width = 61;
  auto s = NewSurface(width, 2);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < width; ++x) SetPixel(*s, x, y, cases[(x + y) % std::size(cases)].in);
  cImageProcessDIB processor;
  EventLog log(processor);
  processor.GrayScale(*s);
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const int g = cases[(x + y) % std::size(cases)].grey;
      ASSERT_EQ(GetPixel(*s, x, y), (Bgr{g, g, g})) << "x " << x << " y " << y;
    }
  }
  EXPECT_EQ(log.lines, PassEvents(width));
}

TEST(GrayScale, RandomPicturesOfManyWidthsMatchTheFormula) {
  for (int32_t width : {1, 2, 17, 18, 19, 35, 511, 512, 513, 1100}) {
    auto s = RandomSurface(width, 3, static_cast<uint32_t>(width));
    auto before = Copy(*s);
    cImageProcessDIB processor;
    processor.GrayScale(*s);
    for (int32_t y = 0; y < 3; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        const Bgr p = GetPixel(*before, x, y);
        const int g = static_cast<int>(std::nearbyint((707 * p.green + 222 * p.red + 71 * p.blue) / 1000.0));
        ASSERT_EQ(GetPixel(*s, x, y), (Bgr{g, g, g})) << "width " << width << " x " << x << " y " << y;
      }
      for (int32_t c = 3 * width; c < s->BytesPerScanLine(); ++c)
        ASSERT_EQ(PixelAt(*s, 0, y)[c], kPaddingMark);
    }
  }
}

TEST(GrayScale, SurfaceWithoutPixels) {
  cDIBSection none;
  ASSERT_FALSE(none.Create(0, 4));
  cImageProcessDIB processor;
  EventLog log(processor);
  processor.GrayScale(none);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"I -3", "C"}));
}

TEST(Fade, ScalesEveryByteRoundingDown) {
  for (int32_t amount : {0, 1, 128, 200, 254, 255}) {
    for (int32_t width : {1, 6, 37}) {
      auto s = RandomSurface(width, 2, static_cast<uint32_t>(amount * 7 + width));
      // Make sure the extremes are there.
      SetPixel(*s, 0, 0, {255, 1, 0});
      auto before = Copy(*s);
      cImageProcessDIB processor;
      EventLog log(processor);
      processor.Fade(*s, amount);
      for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < width; ++x) {
          const Bgr p = GetPixel(*before, x, y);
          ASSERT_EQ(GetPixel(*s, x, y), (Bgr{p.blue * amount / 255, p.green * amount / 255, p.red * amount / 255}))
              << "amount " << amount << " x " << x << " y " << y;
        }
      }
      EXPECT_EQ(log.lines, PassEvents(width));
    }
  }
  auto s = GreySurface({{255, 1}});
  cImageProcessDIB processor;
  processor.Fade(*s, 128);
  EXPECT_EQ(GetPixel(*s, 0, 0), (Bgr{128, 128, 128}));
  EXPECT_EQ(GetPixel(*s, 1, 0), (Bgr{0, 0, 0}));
}

// An amount outside 0..255 fails at the first byte that leaves a byte's range, column by column
// from the bottom; the bytes before it keep their new values and Complete never comes.
TEST(Fade, AmountsOutsideTheByteRangeStopAtTheFirstBadByte) {
  {
    auto s = GreySurface({{254, 200}, {10, 100}});
    cImageProcessDIB processor;
    EventLog log(processor);
    processor.Fade(*s, 256);  // no byte of 255: nothing leaves the range, nothing changes
    EXPECT_EQ(GetPixel(*s, 0, 0), (Bgr{254, 254, 254}));
    EXPECT_EQ(GetPixel(*s, 1, 1), (Bgr{100, 100, 100}));
    EXPECT_EQ(log.lines, PassEvents(2));
  }
  struct Case {
    int32_t amount;
    int32_t number;
  };
  for (const Case c : {Case{256, 6}, Case{-1, 6}, Case{300, 6}, Case{10000000, 6}}) {
    // Column 0 is fine at 256 and at -1; pixel (1, 0) has 255 in green.
    auto s = GreySurface({{10, 20, 30}, {40, 50, 60}});
    SetPixel(*s, 1, 0, {7, 255, 9});
    cImageProcessDIB processor;
    EventLog log(processor);
    try {
      processor.Fade(*s, c.amount);
      ADD_FAILURE() << c.amount;
    } catch (const TorvoError& e) {
      EXPECT_EQ(e.number(), c.number);
    }
    auto faded = [&](int v) { return v * c.amount / 255; };
    if (c.amount == 10000000) {
      // 10 x 10,000,000 / 255 is no byte: the very first byte fails and nothing changes.
      EXPECT_EQ(GetPixel(*s, 0, 0), (Bgr{10, 10, 10}));
      EXPECT_EQ(log.lines, (std::vector<std::string>{"I 6"}));
      continue;
    }
    EXPECT_EQ(GetPixel(*s, 0, 0), (Bgr{faded(10), faded(10), faded(10)}));
    EXPECT_EQ(GetPixel(*s, 0, 1), (Bgr{faded(40), faded(40), faded(40)}));
    EXPECT_EQ(GetPixel(*s, 1, 0), (Bgr{faded(7), 255, 9})) << "blue written, green failed, red untouched";
    EXPECT_EQ(GetPixel(*s, 1, 1), (Bgr{50, 50, 50}));
    EXPECT_EQ(log.lines, (std::vector<std::string>{"I 6", "P 0"}));
  }
}

// The vector forms and the plain forms give the same bytes, on widths around their steps.
TEST(GrayScaleAndFade, VectorAndPlainFormsAgree) {
  for (int32_t width : {1, 5, 16, 17, 18, 19, 33, 34, 35, 100, 515}) {
    for (int form = 0; form < 3; ++form) {
      auto vector = RandomSurface(width, 3, static_cast<uint32_t>(width * 3 + form));
      auto plain = Copy(*vector);
      cImageProcessDIB processor;
      auto run = [&](cDIBSection& s) {
        if (form == 0) processor.GrayScale(s);
        if (form == 1) processor.Fade(s, 77);
        if (form == 2) processor.Fade(s, 255);
      };
      run(*vector);
      vector_forms::Allow(false);
      run(*plain);
      vector_forms::Allow(true);
      ASSERT_EQ(AllBytes(*vector), AllBytes(*plain)) << "width " << width << ", form " << form;
    }
  }
}

}  // namespace
}  // namespace torvo
