#include <gtest/gtest.h>

#include <cmath>

#include "imaging/cImageProcessDIB.h"
#include "imaging/tests/colour_test_support.h"
#include "platform/error.h"
#include "platform/random.h"

namespace torvo {
namespace {

using namespace colour_test;

// The generator's numbers are consumed pixel by pixel, column by column from the bottom: the
// decision first (with bRandom), then blue, green and red. Replaying the same sequence here must
// give every byte, and the generator must end where the expected draws end.
TEST(AddNoise, DrawsInTheProcessorsOrder) {
  struct Case {
    int32_t percent;
    bool random;
  };
  const Case cases[] = {{0, false}, {1, false}, {50, false}, {100, false}, {-100, false},
                        {40, true}, {100, true}, {150, true}, {-20, true}, {1000, false}};
  for (const auto& c : cases) {
    auto s = RandomSurface(7, 5, static_cast<uint32_t>(c.percent + 1000));
    auto before = Copy(*s);
    ReseedUniform(77);
    cImageProcessDIB processor;
    EventLog log(processor);
    processor.AddNoise(*s, c.percent, c.random);
    const float after = NextUniform();

    ReseedUniform(77);
    const int32_t band = c.percent * 128 / 100;
    const int32_t half = band / 2;
    for (int32_t x = 0; x < 7; ++x) {
      for (int32_t y = 0; y < 5; ++y) {
        const Bgr p = GetPixel(*before, x, y);
        if (c.random && !(NextUniform() * 100.0 > c.percent)) {
          ASSERT_EQ(GetPixel(*s, x, y), p);
          continue;
        }
        int expected[3];
        const int in[3] = {p.blue, p.green, p.red};
        for (int k = 0; k < 3; ++k) {
          const double u = NextUniform();
          expected[k] = std::clamp(static_cast<int>(std::nearbyint(u * band + (in[k] - half))), 0, 255);
        }
        ASSERT_EQ(GetPixel(*s, x, y), (Bgr{expected[0], expected[1], expected[2]}))
            << c.percent << (c.random ? " random" : "") << " at " << x << "," << y;
      }
    }
    EXPECT_EQ(after, NextUniform()) << "a different number of draws for " << c.percent;
    EXPECT_EQ(log.lines, PassEvents(7));
  }
}

TEST(AddNoise, BandsAndTheirEffect) {
  {  // 0 changes nothing, yet three numbers are drawn per pixel.
    auto s = RandomSurface(4, 3, 1);
    auto before = AllBytes(*s);
    ReseedUniform(5);
    cImageProcessDIB().AddNoise(*s, 0);
    const float next = NextUniform();
    ReseedUniform(5);
    for (int i = 0; i < 36; ++i) NextUniform();
    EXPECT_EQ(next, NextUniform());
    EXPECT_EQ(AllBytes(*s), before);
  }
  {  // 1: band 1, half band 0: a byte stays or goes up by one; 255 stays.
    auto s = GreySurface({{0, 100, 255, 17, 254}, {3, 3, 255, 255, 9}});
    auto before = Copy(*s);
    cImageProcessDIB().AddNoise(*s, 1);
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 5; ++x) {
        const Bgr was = GetPixel(*before, x, y), now = GetPixel(*s, x, y);
        for (int k = 0; k < 3; ++k) {
          const int a = (&was.blue)[k], b = (&now.blue)[k];
          EXPECT_TRUE(b == a || (b == a + 1 && a < 255)) << a << " became " << b;
        }
      }
  }
  {  // 100 at random changes no pixel.
    auto s = RandomSurface(9, 9, 4);
    auto before = AllBytes(*s);
    cImageProcessDIB().AddNoise(*s, 100, true);
    EXPECT_EQ(AllBytes(*s), before);
  }
}

TEST(AddNoise, PercentTooLargeOverflowsBeforeAnything) {
  auto s = RandomSurface(3, 3, 8);
  auto before = AllBytes(*s);
  cImageProcessDIB processor;
  EventLog log(processor);
  for (int32_t percent : {16777216, -16777217}) {
    try {
      processor.AddNoise(*s, percent);
      ADD_FAILURE() << percent;
    } catch (const TorvoError& e) {
      EXPECT_EQ(e.number(), 6);
    }
  }
  EXPECT_EQ(AllBytes(*s), before);
  EXPECT_TRUE(log.lines.empty());
}

}  // namespace
}  // namespace torvo
