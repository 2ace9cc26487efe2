#include <gtest/gtest.h>

#include "imaging/cImageProcessDIB.h"
#include "imaging/tests/surface_test_support.h"
#include "platform/error.h"

namespace torvo {
namespace {

using namespace surface_test;

struct Pixel { uint8_t blue, green, red; };

std::unique_ptr<cDIBSection> OnePixel(Pixel p) {
  auto s = Flat(1, 1, 0);
  SetPixel(*s, 0, 0, p.blue, p.green, p.red);
  return s;
}

std::vector<int> PixelOf(const cDIBSection& s) {
  return {*Byte(s, 0, 0), *Byte(s, 1, 0), *Byte(s, 2, 0)};
}

TEST(CombineTest, LightestAndDarkestKeepWhatTheirNamesSay) {
  const Pixel black{0, 0, 0}, white{255, 255, 255};
  // Brightness 222 R + 707 G + 71 B: red 71 and blue 222 are both 15,762.
  const Pixel red71{0, 0, 71}, blue222{222, 0, 0};
  // Green 1 (707) against red 3 (666): the green pixel is the lighter one.
  const Pixel green1{0, 1, 0}, red3{0, 0, 3};
  struct Case { bool lightest; Pixel from, to; std::vector<int> expected; };
  const Case cases[] = {
      {true, black, white, {255, 255, 255}},  {true, white, black, {255, 255, 255}},
      {false, black, white, {0, 0, 0}},       {false, white, black, {0, 0, 0}},
      {true, red71, blue222, {222, 0, 0}},    {false, red71, blue222, {222, 0, 0}},
      {true, blue222, red71, {0, 0, 71}},     {false, blue222, red71, {0, 0, 71}},
      {true, green1, red3, {0, 1, 0}},        {false, green1, red3, {0, 0, 3}},
      {true, red3, green1, {0, 1, 0}},        {false, red3, green1, {0, 0, 3}},
  };
  for (const Case& c : cases) {
    cImageProcessDIB p;
    auto from = OnePixel(c.from), to = OnePixel(c.to);
    if (c.lightest) {
      p.AddLightest(*from, *to);
    } else {
      p.AddDarkest(*from, *to);
    }
    EXPECT_EQ(PixelOf(*to), c.expected) << (c.lightest ? "lightest" : "darkest");
    EXPECT_EQ(PixelOf(*from), (std::vector<int>{c.from.blue, c.from.green, c.from.red}));
  }
}

TEST(CombineTest, AddImagesFormulaAndChannelOrder) {
  // cFrom pixel blue 10, green 20, red 30; cTo blue 100, green 50, red 200.
  struct Case { std::vector<int32_t> args; std::vector<int> expected; };
  const Case cases[] = {
      {{0, 0, 0, 0, 1, 0, 0, 0}, {100, 50, 200}},            // cTo unchanged
      {{1, 0, 0, 0, 0, 0, 0, 0}, {10, 20, 30}},              // a copy of cFrom
      {{1, 5, 0, 0, 0, 0, 0, 0}, {10, 20, 35}},              // R offset lands on red
      {{1, 0, 0, 5, 0, 0, 0, 0}, {15, 20, 30}},              // B offset lands on blue
      {{0, 0, 0, 0, 1, 1, 2, 3}, {103, 52, 201}},            // the same for the cTo offsets
      {{-1, 0, 0, 0, 2, 0, 0, 0}, {190, 80, 255}},           // 2 x cTo - cFrom, clamped
      {{1, 127, 127, 127, 0, 0, 0, 0}, {137, 147, 157}},     // cFrom + 127
      {{2, 0, 0, 0, -1, 0, 0, 0}, {0, 0, 0}},                // 2 x cFrom - cTo < 0
      {{3, -10, 7, 1, -2, 4, -3, 0}, {0, 0, 0}},
      {{3, 100, 7, 1, -1, 4, -3, 0}, {0, 34, 186}},
  };
  for (const Case& c : cases) {
    cImageProcessDIB p;
    auto from = OnePixel({10, 20, 30}), to = OnePixel({100, 50, 200});
    EXPECT_FALSE(p.AddImages(*from, *to, c.args[0], c.args[1], c.args[2], c.args[3], c.args[4],
                             c.args[5], c.args[6], c.args[7]));
    EXPECT_EQ(PixelOf(*to), c.expected) << ::testing::PrintToString(c.args);
  }
}

TEST(CombineTest, SameSurfaceAsBothImages) {
  cImageProcessDIB p;
  auto s = Random(5, 3, 2);
  auto before = AllBytes(*s);
  p.AddLightest(*s, *s);
  p.AddDarkest(*s, *s);
  EXPECT_EQ(AllBytes(*s), before);
  p.AddImages(*s, *s, 1, 1, 2, 3, 1, 0, 0, 0);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t c = 0; c < 15; ++c) {
      int add = c % 3 == 0 ? 3 : (c % 3 == 1 ? 2 : 1);
      EXPECT_EQ(*Byte(*s, c, y), std::min(255, 2 * before[y * 16 + c] + add));
    }
}

TEST(CombineTest, LargerFromContributesItsBottomLeftCornerOnly) {
  cImageProcessDIB p;
  auto from = Random(6, 5, 3);
  auto to = Flat(3, 2, 0);
  p.AddImages(*from, *to, 1, 0, 0, 0, 0, 0, 0, 0);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t c = 0; c < 9; ++c) EXPECT_EQ(*Byte(*to, c, y), *Byte(*from, c, y));
  EXPECT_EQ(*Byte(*to, 9, 0), kPadding);
}

TEST(CombineTest, EmptyExtentChangesNothing) {
  cImageProcessDIB p;
  for (auto [width, height] : {std::pair{0, 3}, {3, 0}}) {
    cDIBSection to;
    EXPECT_FALSE(to.Create(width, height));
    auto from = Random(2, 2, 1);
    auto before = AllBytes(*from);
    p.AddLightest(*from, to);
    p.AddDarkest(*from, to);
    p.AddImages(*from, to, 1, 0, 0, 0, 1, 0, 0, 0);
    EXPECT_EQ(AllBytes(*from), before);
  }
}

TEST(CombineTest, SmallerFromStopsAtTheFirstPixelOutsideIt) {
  // cFrom one scan line short: the first column's lower pixels are done, then error 9.
  for (int op = 0; op < 3; ++op) {
    cImageProcessDIB p;
    auto from = Flat(2, 2, 255);
    auto to = Flat(2, 3, 0);
    try {
      if (op == 0) p.AddLightest(*from, *to);
      if (op == 1) p.AddDarkest(*from, *to);
      if (op == 2) p.AddImages(*from, *to, 1, 0, 0, 0, 1, 0, 0, 0);
      ADD_FAILURE() << op;
    } catch (const TorvoError& e) {
      EXPECT_EQ(e.number(), 9);
    }
    const int expectedLow = op == 1 ? 0 : 255;
    EXPECT_EQ(BlueRows(*to), (std::vector<std::vector<int>>{{expectedLow, 0}, {expectedLow, 0}, {0, 0}}))
        << op;
  }
}

TEST(CombineTest, OverflowStopsAddImagesWithEarlierPixelsChanged) {
  cImageProcessDIB p;
  auto from = Flat(2, 2, 0);
  *Byte(*from, 0, 1) = 255;  // the second pixel of the first column overflows
  auto to = Flat(2, 2, 9);
  try {
    p.AddImages(*from, *to, 10000000, 0, 0, 0, 2, 0, 0, 0);
    ADD_FAILURE();
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), 6);
  }
  EXPECT_EQ(BlueRows(*to), (std::vector<std::vector<int>>{{18, 9}, {9, 9}}));
  EXPECT_EQ(*Byte(*to, 2, 0), 18);  // the whole first pixel
  // Offsets that overflow before the multiplication.
  auto to2 = Flat(1, 1, 1);
  EXPECT_THROW(p.AddImages(*from, *to2, 1, 0, 0, 0, 1, 0, 0, INT32_MAX), TorvoError);
}

// The scan-line form against the formula, pixel by pixel, on random pictures.
TEST(CombineTest, RandomPicturesFollowTheFormula) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const int32_t width = 3 + static_cast<int32_t>(seed) * 2, height = 4 + static_cast<int32_t>(seed);
    auto from = Random(width + 1, height + 2, seed);
    auto to = Random(width, height, seed + 100);
    auto lightest = Clone(*to), darkest = Clone(*to), sum = Clone(*to);
    cImageProcessDIB p;
    p.AddLightest(*from, *lightest);
    p.AddDarkest(*from, *darkest);
    const int32_t m1 = static_cast<int32_t>(seed) - 3, m2 = 2 - static_cast<int32_t>(seed) % 3;
    p.AddImages(*from, *sum, m1, 5, -7, 11, m2, -13, 17, 3);
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < 3 * width; x += 3) {
        const uint8_t* f = Byte(*from, x, y);
        const uint8_t* t = Byte(*to, x, y);
        int fb = 222 * f[2] + 707 * f[1] + 71 * f[0], tb = 222 * t[2] + 707 * t[1] + 71 * t[0];
        for (int c = 0; c < 3; ++c) {
          EXPECT_EQ(Byte(*lightest, x, y)[c], fb > tb ? f[c] : t[c]);
          EXPECT_EQ(Byte(*darkest, x, y)[c], fb < tb ? f[c] : t[c]);
          const int fromOffset[3] = {11, -7, 5}, toOffset[3] = {3, 17, -13};
          int v = (f[c] + fromOffset[c]) * m1 + (t[c] + toOffset[c]) * m2;
          EXPECT_EQ(Byte(*sum, x, y)[c], std::clamp(v, 0, 255));
        }
      }
  }
}

}  // namespace
}  // namespace torvo
