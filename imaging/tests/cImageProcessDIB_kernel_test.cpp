#include <gtest/gtest.h>

#include <random>

#include "imaging/cImageProcessDIB.h"
#include "imaging/tests/processor_test_access.h"
#include "imaging/tests/surface_test_support.h"
#include "imaging/vector_forms.h"
#include "platform/error.h"

namespace torvo {
namespace {

using Access = cImageProcessDIBTestAccess;
using namespace surface_test;
using Rows = std::vector<std::vector<int>>;

// A grey picture from rows of values, bottom scan line first.
std::unique_ptr<cDIBSection> Grey(const Rows& rows) {
  auto s = Flat(static_cast<int32_t>(rows[0].size()), static_cast<int32_t>(rows.size()), 0);
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; x < rows[y].size(); ++x) {
      auto v = static_cast<uint8_t>(rows[y][x]);
      SetPixel(*s, static_cast<int32_t>(x), static_cast<int32_t>(y), v, v, v);
    }
  return s;
}

void Custom(cImageProcessDIB& p, int32_t size, const std::vector<std::pair<std::pair<int, int>, int>>& values,
            int32_t weight) {
  p.FilterArraySize(size);
  for (auto [at, v] : values) p.FilterValue(at.first, at.second, v);
  p.FilterWeight(weight);
  p.FilterType(13);
}

int32_t RaisedNumber(const std::function<void()>& call) {
  try {
    call();
  } catch (const TorvoError& e) {
    return e.number();
  }
  return 0;
}

// Grey 5 x 5 pictures through a 3 x 3 filter: blue bytes after ProcessImage, rows from the bottom.
TEST(ProcessImageTest, SmallPicturesThroughThePresets) {
  const Rows dot = {{0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 255, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}};
  const Rows hole = {{255, 255, 255, 255, 255}, {255, 255, 255, 255, 255}, {255, 255, 0, 255, 255},
                     {255, 255, 255, 255, 255}, {255, 255, 255, 255, 255}};
  const Rows black(5, std::vector<int>(5, 0)), white(5, std::vector<int>(5, 255));
  const Rows flat(5, std::vector<int>(5, 77));
  // Preset 5: 15 x centre - neighbours over 7; -13 / 7 = -1 gives 0, 1793 / 7 = 256 gives 255.
  const Rows sharpenSums = {{0, 0, 0, 0, 0}, {0, 0, 0, 6, 0}, {13, 0, 120, 0, 1}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}};
  struct Case { int32_t type; Rows input; Rows expected; };
  const Case cases[] = {
      {5, flat, flat},
      {5, dot, dot},
      {5, sharpenSums, {{0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {13, 0, 255, 0, 1}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}}},
      {1, dot, {{0, 0, 0, 0, 0}, {0, 28, 28, 28, 0}, {0, 28, 28, 28, 0}, {0, 28, 28, 28, 0}, {0, 0, 0, 0, 0}}},
      {9, dot, {{0, 0, 0, 0, 0}, {0, 28, 28, 28, 0}, {0, 28, 28, 28, 0}, {0, 28, 28, 28, 0}, {0, 0, 0, 0, 0}}},
      {10, hole, {{255, 255, 255, 255, 255}, {255, 0, 0, 0, 255}, {255, 0, 0, 0, 255}, {255, 0, 0, 0, 255}, {255, 255, 255, 255, 255}}},
      {11, hole, white},
      {11, dot, {{0, 0, 0, 0, 0}, {0, 255, 255, 255, 0}, {0, 255, 255, 255, 0}, {0, 255, 255, 255, 0}, {0, 0, 0, 0, 0}}},
      {10, dot, black},
      // Emboss of a flat 77: 127 inside, 77 + 127 on the frame.
      {8, flat, {{204, 204, 204, 204, 204}, {204, 127, 127, 127, 204}, {204, 127, 127, 127, 204}, {204, 127, 127, 127, 204}, {204, 204, 204, 204, 204}}},
      {8, white, {{255, 255, 255, 255, 255}, {255, 127, 127, 127, 255}, {255, 127, 127, 127, 255}, {255, 127, 127, 127, 255}, {255, 255, 255, 255, 255}}},
      // Emboss: the dot is the upper-right neighbour of (1, 1) and the lower-left one of (3, 3).
      {8, dot, {{127, 127, 127, 127, 127}, {127, 255, 127, 127, 127}, {127, 127, 127, 127, 127}, {127, 127, 127, 127, 127}, {127, 127, 127, 127, 127}}},
      // Sharpen cross on the dot: the centre 5 x 255 clamps; the four neighbours go to 0.
      {6, dot, dot},
  };
  for (const Case& c : cases) {
    cImageProcessDIB p;
    p.FilterType(c.type);
    auto image = Grey(c.input);
    auto buffer = Flat(5, 5, 0);
    EXPECT_TRUE(p.ProcessImage(*image, *buffer)) << c.type;
    EXPECT_EQ(BlueRows(*image), c.expected) << "preset " << c.type;
    // Grey stays grey: green and red follow blue.
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 5; ++x) {
        EXPECT_EQ(*Byte(*image, 3 * x + 1, y), *Byte(*image, 3 * x, y));
        EXPECT_EQ(*Byte(*image, 3 * x + 2, y), *Byte(*image, 3 * x, y));
      }
    EXPECT_EQ(*Byte(*image, 15, 0), kPadding);
  }
}

TEST(ProcessImageTest, WhereEachSurfaceEndsUp) {
  auto input = Random(7, 6, 11);
  // Presets 1 to 6 and 9 to 11: both surfaces hold the filtered picture.
  for (int32_t type : {1, 2, 3, 4, 5, 6, 9, 10, 11}) {
    cImageProcessDIB p;
    p.FilterType(type);
    auto image = Clone(*input);
    auto buffer = Flat(7, 6, 1);
    ASSERT_TRUE(p.ProcessImage(*image, *buffer));
    EXPECT_EQ(AllBytes(*image), AllBytes(*buffer)) << type;
  }
  // Unsharp mask: cBuffer holds the blur, cImage 2 x picture - blur; the kernel stays preset 1's.
  cImageProcessDIB blur;
  blur.FilterType(1);
  auto blurred = Clone(*input);
  auto scratch = Flat(7, 6, 0);
  blur.ProcessImage(*blurred, *scratch);

  cImageProcessDIB p;
  p.FilterType(7);
  auto image = Clone(*input);
  auto buffer = Flat(7, 6, 0);
  EXPECT_TRUE(p.ProcessImage(*image, *buffer));
  EXPECT_EQ(AllBytes(*buffer), AllBytes(*blurred));
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t c = 0; c < 21; ++c) {
      int expected = std::clamp(2 * *Byte(*input, c, y) - *Byte(*blurred, c, y), 0, 255);
      ASSERT_EQ(*Byte(*image, c, y), expected) << c << "," << y;
    }
  EXPECT_EQ(p.FilterWeight(), 0);
  EXPECT_EQ(p.FilterArraySize(), 3);
  EXPECT_EQ(p.FilterValue(1, 1), 1);
  EXPECT_EQ(Access::filterType(p), 7);
  // A second run behaves the same: preset 7 rebuilds its blur each time.
  auto again = Clone(*input);
  p.ProcessImage(*again, *buffer);
  EXPECT_EQ(AllBytes(*again), AllBytes(*image));

  // None: both untouched, false.
  cImageProcessDIB none;
  none.FilterType(12);
  auto untouched = Clone(*input);
  auto otherBuffer = Flat(7, 6, 3);
  EXPECT_FALSE(none.ProcessImage(*untouched, *otherBuffer));
  EXPECT_EQ(AllBytes(*untouched), AllBytes(*input));
  EXPECT_EQ(AllBytes(*otherBuffer), AllBytes(*Flat(7, 6, 3)));
}

TEST(ProcessImageTest, CustomKernelsAreCorrelationsAsStored) {
  const Rows input = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
  struct Case {
    std::vector<std::pair<std::pair<int, int>, int>> values;
    int32_t weight;
    Rows expected;
  };
  const Case cases[] = {
      {{{{0, 0}, 1}}, 1, input},                                          // identity
      {{{{1, 0}, 1}}, 1, {{1, 2, 3, 4}, {5, 7, 8, 8}, {9, 11, 12, 12}, {13, 14, 15, 16}}},  // from the right
      {{{{0, 1}, 1}}, 1, {{1, 2, 3, 4}, {5, 10, 11, 8}, {9, 14, 15, 12}, {13, 14, 15, 16}}},  // from a line up
      {{{{0, 0}, -1}}, -1, input},
      {{{{0, 0}, 1}}, -1, {{1, 2, 3, 4}, {5, 0, 0, 8}, {9, 0, 0, 12}, {13, 14, 15, 16}}},
      // Truncation toward zero: 6 x 3 / -4 = -4.5 -> -4 -> 0; 7 x 3 / 4 = 5.25 -> 5.
      {{{{0, 0}, 3}}, 4, {{1, 2, 3, 4}, {5, 4, 5, 8}, {9, 7, 8, 12}, {13, 14, 15, 16}}},
  };
  for (const Case& c : cases) {
    cImageProcessDIB p;
    Custom(p, 3, c.values, c.weight);
    auto image = Grey(input);
    auto buffer = Flat(4, 4, 0);
    EXPECT_TRUE(p.ProcessImage(*image, *buffer));
    EXPECT_EQ(BlueRows(*image), c.expected);
  }
}

TEST(ProcessImageTest, EventsOfThePasses) {
  struct Case { int32_t type; int32_t width, height; std::vector<std::string> events; };
  const Case cases[] = {
      {5, 5, 4, PassEvents(3, 9)},
      {5, 1, 1, {"I -3", "C"}},
      {5, 2, 2, {"I 0", "C"}},
      {5, 6, 2, PassEvents(3, 12)},  // too low: columns still report
      {2, 4, 9, {"I 3", "C"}},       // 5 x 5 kernel on a picture 4 wide
      {2, 7, 7, PassEvents(6, 12)},
      {9, 2, 5, {"I 0", "C"}},
      {10, 4, 3, PassEvents(3, 6)},
      {7, 4, 3, PassEvents(3, 6)},
      {8, 3, 3, PassEvents(3, 3)},
      {12, 4, 4, {}},
  };
  for (const Case& c : cases) {
    cImageProcessDIB p;
    p.FilterType(c.type);
    EventLog log(p);
    auto image = Random(c.width, c.height, 5);
    auto before = AllBytes(*image);
    auto buffer = Flat(c.width, c.height, 0);
    p.ProcessImage(*image, *buffer);
    EXPECT_EQ(log.lines, c.events) << c.type << " " << c.width << "x" << c.height;
    if (c.width < 3 || c.height < 3) {
      EXPECT_EQ(AllBytes(*image), before);
    }
    if (!log.lines.empty()) {
      EXPECT_GE(log.lastTime, 0);
    }
  }
}

TEST(ProcessImageTest, FrameOfTheDestinationIsNeitherReadNorWritten) {
  for (int32_t type : {2, 9}) {
    cImageProcessDIB p;
    p.FilterType(type);
    const int32_t h = type == 2 ? 2 : 1;
    auto source = Random(8, 7, 3);
    auto destination = Random(8, 7, 4);
    auto before = AllBytes(*destination);
    if (type == 2) {
      Access::ConvolveKernel(p, *source, *destination);
    } else {
      Access::NeighbourhoodRows(p, *source, *destination);
    }
    for (int32_t y = 0; y < 7; ++y)
      for (int32_t c = 0; c < destination->BytesPerScanLine(); ++c) {
        bool frame = y < h || y > 6 - h || c < 3 * h || c >= 3 * (8 - h);
        if (frame) {
          ASSERT_EQ(*Byte(*destination, c, y), before[y * 24 + c]) << c << "," << y;
        }
      }
  }
}

TEST(ProcessImageTest, ErrorsStopThePassWhereTheyArise) {
  // Weight 0: division by zero at the first pixel; cBuffer already holds the copy.
  {
    cImageProcessDIB p;
    Custom(p, 3, {{{0, 0}, 1}}, 0);
    EventLog log(p);
    auto image = Random(5, 5, 8);
    auto before = AllBytes(*image);
    auto buffer = Flat(5, 5, 0);
    EXPECT_EQ(RaisedNumber([&] { p.ProcessImage(*image, *buffer); }), 11);
    EXPECT_EQ(AllBytes(*image), before);
    EXPECT_EQ(AllBytes(*buffer), before);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"I 9"}));
  }
  // Custom filter without a kernel: subscript error at the first pixel.
  {
    cImageProcessDIB p;
    p.FilterType(13);
    EventLog log(p);
    auto image = Random(3, 3, 8);
    auto buffer = Flat(3, 3, 0);
    EXPECT_EQ(RaisedNumber([&] { p.ProcessImage(*image, *buffer); }), 9);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"I 6"}));
    EXPECT_EQ(AllBytes(*buffer), AllBytes(*image));
  }
  // A buffer two pixels wide (8 bytes a line) under a picture four wide: the second column's
  // blue and green are written, its red byte (column 8) does not exist.
  {
    cImageProcessDIB p;
    p.FilterType(1);
    EventLog log(p);
    auto image = Flat(4, 3, 90);
    auto buffer = Flat(2, 3, 0);
    EXPECT_EQ(RaisedNumber([&] { p.ProcessImage(*image, *buffer); }), 9);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"I 6", "P 3"}));
    EXPECT_EQ(AllBytes(*image), AllBytes(*Flat(4, 3, 90)));
    // Copy of the image where it fits, then the pass's writes into the padding bytes 6 and 7.
    EXPECT_EQ(AllBytes(*buffer), (std::vector<uint8_t>{90, 90, 90, 90, 90, 90, kPadding, kPadding,
                                                       90, 90, 90, 90, 90, 90, 90, 90,
                                                       90, 90, 90, 90, 90, 90, kPadding, kPadding}));
  }
  // A buffer two lines high under a picture four high: the first column stops at scan line 2.
  {
    cImageProcessDIB p;
    p.FilterType(10);
    auto image = Grey({{9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}, {9, 9, 9, 9}});
    SetPixel(*image, 0, 0, 1, 1, 1);
    auto buffer = Flat(4, 2, 50);
    EXPECT_EQ(RaisedNumber([&] { p.ProcessImage(*image, *buffer); }), 9);
    // The copy lines up the top rows (scan lines 3 and 2 land in 1 and 0), the pass the bottom.
    EXPECT_EQ(BlueRows(*buffer), (Rows{{9, 9, 9, 9}, {9, 1, 9, 9}}));
  }
  // Overflow at the second pixel of the first column; the first pixel stays written.
  {
    cImageProcessDIB p;
    Custom(p, 3, {{{0, 0}, 10000000}}, 10000000);
    EventLog log(p);
    auto image = Grey({{0, 0, 0}, {0, 0, 0}, {0, 255, 0}, {0, 0, 0}});
    SetPixel(*image, 1, 1, 1, 1, 1);
    auto buffer = Flat(3, 4, 0);
    EXPECT_EQ(RaisedNumber([&] { p.ProcessImage(*image, *buffer); }), 6);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"I 3"}));
    EXPECT_EQ(BlueRows(*buffer), (Rows{{0, 0, 0}, {0, 1, 0}, {0, 255, 0}, {0, 0, 0}}));
    EXPECT_EQ(BlueRows(*image), (Rows{{0, 0, 0}, {0, 1, 0}, {0, 255, 0}, {0, 0, 0}}));
  }
}

// The scan-line form must give the bytes and events of the exact traversal on any picture and
// kernel. Reference: copy, pixel-by-pixel pass, copy back.
TEST(ProcessImageTest, FastFormsMatchTheExactTraversal) {
  std::mt19937 random(20240601);
  struct Kernel { int32_t type; int32_t size; int32_t maxCoefficient; };
  std::vector<Kernel> kernels;
  for (int32_t type = 1; type <= 11; ++type) kernels.push_back({type, 0, 0});
  for (int32_t size : {3, 5, 7, 9}) {
    kernels.push_back({13, size, 3});         // 16-bit lanes
    kernels.push_back({13, size, 40});        // may need 32 bits
    kernels.push_back({13, size, 3000000});   // large: scalar 32-bit form or exact
  }
  const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {3, 3}, {5, 4}, {7, 9}, {13, 6}, {17, 11}, {33, 10}, {64, 3}};
  int run = 0;
  for (const Kernel& k : kernels) {
    for (auto [width, height] : sizes) {
      cImageProcessDIB fast, exact;
      int32_t chosenWeight = 0;
      if (k.type == 13) {
        std::uniform_int_distribution<int32_t> coefficient(-k.maxCoefficient, k.maxCoefficient);
        std::uniform_int_distribution<int32_t> weight(-60, 60);
        int32_t w = weight(random);
        if (w == 0) w = 1;
        chosenWeight = w;
        for (cImageProcessDIB* p : {&fast, &exact}) p->FilterArraySize(k.size);
        const int32_t h = k.size / 2;
        for (int32_t j = -h; j <= h; ++j)
          for (int32_t i = -h; i <= h; ++i) {
            int32_t v = coefficient(random);
            fast.FilterValue(i, j, v);
            exact.FilterValue(i, j, v);
          }
        fast.FilterWeight(w);
        exact.FilterWeight(w);
      }
      fast.FilterType(k.type);
      exact.FilterType(k.type);
      EventLog fastLog(fast), exactLog(exact);
      auto input = Random(width, height, static_cast<uint32_t>(++run));
      auto image = Clone(*input);
      auto buffer = Flat(width, height, 0);
      int32_t fastError = RaisedNumber([&] { fast.ProcessImage(*image, *buffer); });

      auto expectedImage = Clone(*input);
      auto expectedBuffer = Flat(width, height, 0);
      int32_t exactError = RaisedNumber([&] {
        if (k.type == 7 || k.type == 8) {
          // These combine afterwards; their pass is compared below on its own.
          exact.ProcessImage(*expectedImage, *expectedBuffer);
          return;
        }
        expectedBuffer->LoadPictureBlt(expectedImage->hdc());
        if (k.type >= 9 && k.type <= 11) {
          Access::NeighbourhoodColumns(exact, *expectedImage, *expectedBuffer);
        } else {
          Access::ConvolveColumns(exact, *expectedImage, *expectedBuffer);
        }
        expectedImage->LoadPictureBlt(expectedBuffer->hdc());
      });
      const std::string label = "type " + std::to_string(k.type) + " size " + std::to_string(k.size) + " up to " + std::to_string(k.maxCoefficient) +
                                " weight " + std::to_string(chosenWeight) +
                                " on " + std::to_string(width) + "x" + std::to_string(height);
      EXPECT_EQ(fastError, exactError) << label;
      EXPECT_EQ(AllBytes(*image), AllBytes(*expectedImage)) << label;
      EXPECT_EQ(AllBytes(*buffer), AllBytes(*expectedBuffer)) << label;
      EXPECT_EQ(fastLog.lines, exactLog.lines) << label;

      // The pass on its own into a larger destination (not the in-place sweep).
      if (k.type <= 8 || k.type == 13) {
        auto destination = Random(width + 2, height + 1, 99);
        auto expectedDestination = Clone(*destination);
        if (k.type == 7) {
          fast.FilterType(1);
          exact.FilterType(1);
        }
        int32_t a = RaisedNumber([&] { Access::ConvolveKernel(fast, *input, *destination); });
        int32_t b = RaisedNumber([&] { Access::ConvolveColumns(exact, *input, *expectedDestination); });
        EXPECT_EQ(a, b) << label;
        EXPECT_EQ(AllBytes(*destination), AllBytes(*expectedDestination)) << label;
      }
    }
  }
}

TEST(ProcessImageTest, LargePictureMatchesTheExactTraversal) {
  // Large enough (over 8 MB) to be written past the caches.
  const int32_t width = 1703, height = 1660;
  auto input = Random(width, height, 5);
  cImageProcessDIB fast, exact;
  fast.FilterType(5);
  exact.FilterType(5);
  EventLog fastLog(fast), exactLog(exact);
  auto image = Clone(*input);
  auto buffer = Flat(width, height, 0);
  ASSERT_TRUE(fast.ProcessImage(*image, *buffer));
  auto expectedBuffer = Flat(width, height, 0);
  expectedBuffer->LoadPictureBlt(input->hdc());
  Access::ConvolveColumns(exact, *input, *expectedBuffer);
  EXPECT_TRUE(AllBytes(*buffer) == AllBytes(*expectedBuffer));
  // cImage got the same bytes back, its padding untouched.
  for (int32_t y = 0; y < height; y += 97) {
    EXPECT_TRUE(std::equal(Byte(*image, 0, y), Byte(*image, 3 * width, y), Byte(*expectedBuffer, 0, y)));
    EXPECT_EQ(*Byte(*image, 3 * width, y), kPadding);
  }
  EXPECT_EQ(fastLog.lines, exactLog.lines);
}

TEST(ProcessImageTest, EveryWeightDividesExactly) {
  // The 16-bit form divides by multiplying; every divisor an all-ones 9 x 9 kernel can meet,
  // against a picture whose sums run through the whole range of values.
  auto input = Random(40, 12, 77);
  for (int32_t weight = -300; weight <= 300; weight += (std::abs(weight) < 40 ? 1 : 7)) {
    if (weight == 0) continue;
    cImageProcessDIB fast, exact;
    for (cImageProcessDIB* p : {&fast, &exact}) {
      p->FilterType(2);
      p->FilterType(13);
      p->FilterValue(0, 0, 5);
      p->FilterWeight(weight);
    }
    auto destination = Flat(40, 12, 0), expected = Flat(40, 12, 0);
    ASSERT_TRUE(Access::ConvolveRows(fast, *input, *destination));
    Access::ConvolveColumns(exact, *input, *expected);
    ASSERT_EQ(AllBytes(*destination), AllBytes(*expected)) << weight;
  }
}

}  // namespace
}  // namespace torvo

namespace torvo {
namespace {

// 3 x 3 kernels with one outer value (the blur, the sharpening, the average and their custom
// kin) take a form of their own built from column sums: lines long enough for its pieces, short
// ones whose last piece overlaps, and sums that reach both ends of 16 bits.
TEST(ProcessImageTest, BoxAndCentreKernelsMatchTheExactTraversal) {
  struct Case { int32_t around, centre, weight; };
  const Case cases[] = {{-1, 15, 7},  {1, 1, 9},    {1, 4, 12},   {-1, 15, -7}, {2, -3, 5},
                        {-14, 127, 3}, {14, -127, -1}, {3, 0, 1},   {-1, 8, 1},   {1, 120, 128}};
  const std::pair<int32_t, int32_t> sizes[] = {{12, 5}, {13, 4}, {40, 3}, {180, 4}, {171, 3}, {700, 5}};
  uint32_t seed = 400;
  for (const Case& c : cases) {
    for (auto [width, height] : sizes) {
      cImageProcessDIB fast, exact;
      for (cImageProcessDIB* p : {&fast, &exact}) {
        p->FilterArraySize(3);
        for (int32_t j = -1; j <= 1; ++j)
          for (int32_t i = -1; i <= 1; ++i) p->FilterValue(i, j, i == 0 && j == 0 ? c.centre : c.around);
        p->FilterWeight(c.weight);
        p->FilterType(13);
      }
      auto input = Random(width, height, ++seed);
      auto destination = Random(width, height, 99), expected = Clone(*destination);
      ASSERT_TRUE(Access::ConvolveRows(fast, *input, *destination));
      Access::ConvolveColumns(exact, *input, *expected);
      EXPECT_EQ(AllBytes(*destination), AllBytes(*expected))
          << c.around << " around " << c.centre << " / " << c.weight << " on " << width << "x" << height;
    }
  }
}

}  // namespace
}  // namespace torvo

namespace torvo {
namespace {

// ProcessImage's one-sweep form (in place, the result copied to cBuffer on the way) against
// copy, pixel-by-pixel pass, copy back: every byte of both surfaces, padding and frame included,
// and the events. Widths on both sides of the narrowest line the sweep takes and of its vector
// blocks, one or two lines (no inside at all), kernels that take the sweep and kernels that do
// not; with 512-bit, 256-bit and no vectors allowed, so each form this processor has is held
// against the exact traversal.
TEST(ProcessImageTest, InPlaceSweepMatchesTheExactTraversal) {
  struct Kernel {
    const char* name;
    int32_t type;  // a preset, or 13 with the 3 x 3 values below
    int32_t around, centre, weight;
  };
  const Kernel kernels[] = {
      {"sharpen", 5, 0, 0, 0},
      {"blur", 1, 0, 0, 0},
      {"soften", 3, 0, 0, 0},                  // corners differ: row by row
      {"sharpen cross", 6, 0, 0, 0},           // corners 0: row by row
      {"blur 5 x 5", 2, 0, 0, 0},
      {"near the 16-bit ends", 13, -14, 127, 3},
      {"negative weight", 13, 14, -127, -1},
      {"divide by one", 13, 3, 0, 1},
      {"weight 128", 13, 1, 120, 128},
      {"sums beyond 16 bits", 13, -300, 2000, 11},  // 32-bit sums
  };
  const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {2, 5},  {3, 3},  {47, 4}, {48, 3},  {49, 1},
                                               {49, 2}, {50, 5}, {63, 7}, {64, 3}, {65, 4}, {86, 9},
                                               {129, 3}, {171, 6}, {700, 5}};
  uint32_t seed = 900;
  for (int widest : {512, 256, 0}) {
    vector_forms::AllowWidest(widest);
    for (const Kernel& k : kernels) {
      for (auto [width, height] : sizes) {
        cImageProcessDIB fast, exact;
        for (cImageProcessDIB* p : {&fast, &exact}) {
          if (k.type == 13) {
            p->FilterArraySize(3);
            for (int32_t j = -1; j <= 1; ++j)
              for (int32_t i = -1; i <= 1; ++i) p->FilterValue(i, j, i == 0 && j == 0 ? k.centre : k.around);
            p->FilterWeight(k.weight);
          }
          p->FilterType(k.type);
        }
        EventLog fastLog(fast), exactLog(exact);
        auto input = Random(width, height, ++seed);
        auto image = Clone(*input);
        auto buffer = Random(width, height, seed + 7000);
        const int32_t fastError = RaisedNumber([&] { fast.ProcessImage(*image, *buffer); });

        auto expectedImage = Clone(*input);
        auto expectedBuffer = Random(width, height, seed + 7000);
        const int32_t exactError = RaisedNumber([&] {
          expectedBuffer->LoadPictureBlt(expectedImage->hdc());
          Access::ConvolveColumns(exact, *expectedImage, *expectedBuffer);
          expectedImage->LoadPictureBlt(expectedBuffer->hdc());
        });
        const std::string label = std::string(k.name) + " on " + std::to_string(width) + "x" +
                                  std::to_string(height) + ", vectors up to " + std::to_string(widest) + " bits";
        EXPECT_EQ(fastError, exactError) << label;
        EXPECT_TRUE(AllBytes(*image) == AllBytes(*expectedImage)) << label;
        EXPECT_TRUE(AllBytes(*buffer) == AllBytes(*expectedBuffer)) << label;
        EXPECT_EQ(fastLog.lines, exactLog.lines) << label;
      }
    }
    // A picture over 8 MB, whose copy is written past the caches (the widest form meets one in
    // LargePictureMatchesTheExactTraversal).
    if (widest == 512) continue;
    const int32_t width = 1389, height = 2017;
    cImageProcessDIB fast, exact;
    fast.FilterType(5);
    exact.FilterType(5);
    auto input = Random(width, height, ++seed);
    auto image = Clone(*input);
    auto buffer = Flat(width, height, 0);
    ASSERT_TRUE(fast.ProcessImage(*image, *buffer));
    auto expected = Clone(*input);
    Access::ConvolveColumns(exact, *input, *expected);
    EXPECT_TRUE(AllBytes(*buffer) == AllBytes(*expected)) << widest;
    EXPECT_TRUE(AllBytes(*image) == AllBytes(*expected)) << widest;
  }
  vector_forms::AllowWidest(512);
}

}  // namespace
}  // namespace torvo
