#include <gtest/gtest.h>

#include "imaging/cDIBSection.h"
#include "imaging/tests/colour_test_support.h"
#include "imaging/vector_forms.h"

namespace torvo {
namespace {

using namespace colour_test;

std::vector<std::vector<int>> BlueRows(const cDIBSection& s) {
  std::vector<std::vector<int>> rows(s.Height());
  for (int32_t y = 0; y < s.Height(); ++y)
    for (int32_t x = 0; x < s.Width(); ++x) rows[y].push_back(GetPixel(s, x, y).blue);
  return rows;
}

// Rows from the bottom scan line up, blue channel (green and red carry the same values).
TEST(Resample, InterpolationTables) {
  struct Case {
    std::vector<std::vector<int>> source;
    int32_t width, height;
    std::vector<std::vector<int>> expected;
  };
  const Case cases[] = {
      {{{0, 100}, {200, 255}},
       4,
       4,
       {{0, 25, 50, 75}, {50, 72, 94, 117}, {100, 120, 139, 158}, {150, 166, 183, 200}}},
      {{{0, 5}, {5, 0}}, 4, 1, {{0, 1, 2, 4}}},  // 2.5 goes to 2
      {{{10, 20, 30}, {40, 50, 60}, {70, 80, 90}}, 2, 2, {{10, 20}, {40, 50}}},
      {{{10, 20, 30}, {40, 50, 60}, {70, 80, 90}}, 3, 2, {{10, 17, 23}, {40, 47, 53}}},
      // One pixel wide or high: the single column or row serves as both neighbours.
      {{{10}, {50}, {90}}, 3, 5, {{10, 10, 10}, {26, 26, 26}, {42, 42, 42}, {58, 58, 58}, {74, 74, 74}}},
      {{{0, 100, 200}}, 4, 2, {{0, 50, 100, 150}, {0, 50, 100, 150}}},
      {{{77}}, 2, 3, {{77, 77}, {77, 77}, {77, 77}}},
  };
  for (const auto& c : cases) {
    auto source = GreySurface(c.source);
    auto result = source->Resample(c.height, c.width);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->Width(), c.width);
    EXPECT_EQ(result->Height(), c.height);
    EXPECT_EQ(BlueRows(*result), c.expected);
    for (int32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < c.width; ++x) {
        const Bgr p = GetPixel(*result, x, y);
        ASSERT_TRUE(p.green == p.blue && p.red == p.blue);
      }
  }
}

// Channels are interpolated apart, each byte from the same byte of its neighbours.
TEST(Resample, ChannelsStayApart) {
  auto source = NewSurface(2, 1);
  SetPixel(*source, 0, 0, {0, 255, 10});
  SetPixel(*source, 1, 0, {100, 5, 10});
  auto result = source->Resample(1, 4);
  EXPECT_EQ(GetPixel(*result, 0, 0), (Bgr{0, 255, 10}));
  EXPECT_EQ(GetPixel(*result, 1, 0), (Bgr{25, 192, 10}));
  EXPECT_EQ(GetPixel(*result, 2, 0), (Bgr{50, 130, 10}));
  EXPECT_EQ(GetPixel(*result, 3, 0), (Bgr{75, 68, 10}));
}

TEST(Resample, SameSizeIsAnExactCopy) {
  auto source = RandomSurface(13, 7, 3);
  auto result = source->Resample(7, 13);
  ASSERT_NE(result, nullptr);
  for (int32_t y = 0; y < 7; ++y)
    for (int32_t x = 0; x < 13; ++x) ASSERT_EQ(GetPixel(*result, x, y), GetPixel(*source, x, y));
}

TEST(Resample, HeightComesFirstAndBadSizesGiveNothing) {
  auto source = RandomSurface(5, 3, 1);
  auto result = source->Resample(9, 2);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->Width(), 2);
  EXPECT_EQ(result->Height(), 9);
  EXPECT_EQ(source->Resample(0, 4), nullptr);
  EXPECT_EQ(source->Resample(4, -1), nullptr);
}

// The vector form and the plain form give the same bytes, shrinking and enlarging.
TEST(Resample, VectorAndPlainFormsAgree) {
  const int32_t sizes[][4] = {{1, 1, 5, 3}, {2, 2, 7, 9}, {31, 17, 15, 8}, {40, 9, 97, 20},
                              {13, 1, 6, 4}, {1, 12, 3, 25}, {200, 160, 64, 51}};
  for (const auto& [w, h, nw, nh] : sizes) {
    auto source = RandomSurface(w, h, static_cast<uint32_t>(w * 31 + h));
    auto vector = source->Resample(nh, nw);
    vector_forms::Allow(false);
    auto plain = source->Resample(nh, nw);
    vector_forms::Allow(true);
    ASSERT_EQ(AllBytes(*vector), AllBytes(*plain)) << w << "x" << h << " to " << nw << "x" << nh;
  }
}

}  // namespace
}  // namespace torvo
