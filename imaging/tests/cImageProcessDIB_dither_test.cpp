#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "imaging/cImageProcessDIB.h"
#include "imaging/cPalette.h"
#include "imaging/tests/colour_test_support.h"
#include "platform/error.h"

namespace torvo {
namespace {

using namespace colour_test;

std::vector<std::vector<int>> BlueRows(const cDIBSection& s) {
  std::vector<std::vector<int>> rows(s.Height());
  for (int32_t y = 0; y < s.Height(); ++y)
    for (int32_t x = 0; x < s.Width(); ++x) rows[y].push_back(GetPixel(s, x, y).blue);
  return rows;
}

void ExpectSamePixels(const cDIBSection& a, const cDIBSection& b, int32_t width, int32_t height,
                      const std::string& what) {
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) ASSERT_EQ(GetPixel(a, x, y), GetPixel(b, x, y)) << what << " at " << x << "," << y;
}

// A copy of `s` one pixel wider, the extra column black. With a source larger than the result the
// operations take their exact, column-by-column form, which the same-size form must agree with.
std::unique_ptr<cDIBSection> Wider(const cDIBSection& s) {
  auto wide = NewSurface(s.Width() + 1, s.Height());
  for (int32_t y = 0; y < s.Height(); ++y) {
    for (int32_t x = 0; x < s.Width(); ++x) SetPixel(*wide, x, y, GetPixel(s, x, y));
    SetPixel(*wide, s.Width(), y, {0, 0, 0});
  }
  return wide;
}

TEST(BlackAndWhite, WorkedExample) {
  // Rows from the bottom. Column 0 sends 7/16 of 100 right and 1/16 up-right; column 1 turns
  // white (143 and 144) and pulls its neighbours down; the last column gets nothing.
  auto from = GreySurface({{100, 100, 100, 100}, {100, 100, 100, 100}});
  auto to = NewSurface(4, 2);
  cImageProcessDIB processor;
  processor.BlackAndWhite(*from, *to);
  const std::vector<std::vector<int>> expected{{0, 255, 0, 0}, {0, 255, 0, 0}};
  EXPECT_EQ(BlueRows(*to), expected);
  ExpectSamePixels(*from, *to, 4, 2, "copied back");
}

TEST(BlackAndWhite, UniformPictures) {
  struct Case {
    int grey;
    int32_t width, height;
    int expected;  // every pixel, or -1 for a mixture inside with the edges by their own level
  };
  const Case cases[] = {{0, 5, 4, 0},     {255, 5, 4, 255}, {128, 1, 1, 0},   {129, 1, 1, 255},
                        {129, 6, 5, 255}, {200, 6, 5, 255}, {16, 6, 5, 0},    {10, 9, 9, 0},
                        {128, 6, 5, -1},  {100, 7, 7, -1}};
  for (const auto& c : cases) {
    auto from = GreySurface(std::vector<std::vector<int>>(c.height, std::vector<int>(c.width, c.grey)));
    auto to = NewSurface(c.width, c.height);
    cImageProcessDIB processor;
    processor.BlackAndWhite(*from, *to);
    bool sawBlack = false, sawWhite = false;
    for (int32_t y = 0; y < c.height; ++y) {
      for (int32_t x = 0; x < c.width; ++x) {
        const Bgr p = GetPixel(*to, x, y);
        ASSERT_TRUE(p == (Bgr{0, 0, 0}) || p == (Bgr{255, 255, 255})) << p;
        if (c.expected >= 0 || x == 0 || x == c.width - 1) {
          const int own = c.expected >= 0 ? c.expected : (c.grey <= 128 ? 0 : 255);
          ASSERT_EQ(p.blue, own) << "grey " << c.grey << " at " << x << "," << y;
        } else {
          (p.blue ? sawWhite : sawBlack) = true;
        }
      }
    }
    if (c.expected < 0) {
      EXPECT_TRUE(sawBlack && sawWhite) << "grey " << c.grey;
    }
    ExpectSamePixels(*from, *to, c.width, c.height, "copied back");
  }
}

TEST(BlackAndWhite, GreyConversionEventsComeFirst) {
  auto from = RandomSurface(3, 2, 1);
  auto to = NewSurface(3, 2);
  cImageProcessDIB processor;
  EventLog log(processor);
  processor.BlackAndWhite(*from, *to);
  std::vector<std::string> expected = PassEvents(3);
  for (const auto& line : PassEvents(3)) expected.push_back(line);
  EXPECT_EQ(log.lines, expected);
}

TEST(BlackAndWhite, ScanLineFormAgreesWithColumnForm) {
  for (const auto& [width, height, seed] : {std::tuple{1, 1, 1}, {2, 3, 2}, {3, 3, 3}, {17, 9, 4}, {40, 31, 5},
                                            {64, 3, 6}, {5, 40, 7}, {6, 4, 8}, {7, 5, 9}, {201, 13, 10}}) {
    // Greys near the threshold and near the ends, where clamping decides.
    auto picture = RandomSurface(width, height, static_cast<uint32_t>(seed));
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) {
        const Bgr p = GetPixel(*picture, x, y);
        const int g = (x + y) % 3 == 0 ? 120 + p.blue % 17 : (p.green % 2 ? p.red % 24 : 232 + p.red % 24);
        SetPixel(*picture, x, y, {g, g, g});
      }
    auto sameSize = Copy(*picture);
    auto wider = Wider(*picture);
    auto toFast = NewSurface(width, height), toExact = NewSurface(width, height);
    cImageProcessDIB processor;
    processor.BlackAndWhite(*sameSize, *toFast);
    processor.BlackAndWhite(*wider, *toExact);
    ExpectSamePixels(*toFast, *toExact, width, height, "result " + std::to_string(width) + "x" + std::to_string(height));
    ExpectSamePixels(*sameSize, *toExact, width, height, "source");
    ExpectSamePixels(*wider, *toExact, width, height, "wider source");
  }
}

// The source's scan lines are 4 bytes (one pixel and padding): the first share sent to the right
// lands on bytes 3 to 5 and byte 4 is outside it. The first result pixel is decided, nothing more.
TEST(BlackAndWhite, SourceSmallerThanResultStopsWithError9) {
  auto from = GreySurface({{10}, {30}});
  auto to = NewSurface(3, 2);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) SetPixel(*to, x, y, {7, 7, 7});
  cImageProcessDIB processor;
  EventLog log(processor);
  try {
    processor.BlackAndWhite(*from, *to);
    ADD_FAILURE();
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), 9);
  }
  EXPECT_EQ(GetPixel(*to, 0, 0), (Bgr{0, 0, 0}));
  EXPECT_EQ(GetPixel(*to, 0, 1), (Bgr{7, 7, 7}));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"I 0", "P 0", "C", "I 6"}));
}

class ApplyPaletteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("torvo-apply-palette-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  cPalette Load(const std::vector<Bgr>& colours) {
    const auto path = folder_ / "p.pal";
    {
      std::ofstream file(path, std::ios::binary);
      file << "JASC-PAL\r\n0100\r\n" << colours.size() << "\r\n";
      for (const Bgr& c : colours) file << c.red << ' ' << c.green << ' ' << c.blue << "\r\n";
    }
    cPalette palette;
    palette.LoadFromFile(path);
    return palette;
  }

  std::filesystem::path folder_;
};

TEST_F(ApplyPaletteTest, PaletteWithEveryColourCopiesThePicture) {
  auto from = GreySurface({{10, 20, 30}, {40, 50, 60}});
  SetPixel(*from, 1, 1, {1, 2, 3});
  auto original = Copy(*from);
  cPalette palette = Load({{60, 60, 60}, {50, 50, 50}, {1, 2, 3}, {40, 40, 40}, {30, 30, 30}, {20, 20, 20}, {10, 10, 10}});
  auto to = NewSurface(3, 2);
  cImageProcessDIB processor;
  EventLog log(processor);
  processor.ApplyPalette(*from, *to, palette);
  ExpectSamePixels(*to, *original, 3, 2, "mapped");
  ExpectSamePixels(*from, *original, 3, 2, "copied back");
  EXPECT_EQ(log.lines, PassEvents(3));
}

// Black against a palette holding only white lies at the greatest distance there is: it still maps.
TEST_F(ApplyPaletteTest, GreatestDistanceStillMaps) {
  auto from = GreySurface({{0, 0, 0}, {0, 255, 0}});
  cPalette palette = Load({{255, 255, 255}});
  auto to = NewSurface(3, 2);
  cImageProcessDIB().ApplyPalette(*from, *to, palette);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(GetPixel(*to, x, y), (Bgr{255, 255, 255}));
}

TEST_F(ApplyPaletteTest, EmptyPaletteFailsAtTheFirstPixel) {
  auto from = GreySurface({{1, 2}});
  auto to = NewSurface(2, 1);
  SetPixel(*to, 0, 0, {9, 9, 9});
  cPalette empty;
  cImageProcessDIB processor;
  EventLog log(processor);
  try {
    processor.ApplyPalette(*from, *to, empty);
    ADD_FAILURE();
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), 9);
    EXPECT_NE(e.description().find("empty"), std::string::npos) << e.description();
  }
  EXPECT_EQ(GetPixel(*to, 0, 0), (Bgr{9, 9, 9}));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"I 3"}));
}

// An error of 3 in total is kept; 4 moves on: 7/16 of each channel to the right, 4/16 upwards.
TEST_F(ApplyPaletteTest, SmallErrorsStayPut) {
  cPalette palette = Load({{0, 0, 0}, {100, 100, 100}, {200, 200, 200}});
  struct Case {
    Bgr first;
    Bgr right, above;  // the picture's pixels to the right of and above the first inner pixel
    Bgr mappedRight, mappedAbove;
  };
  // The first pixel sits in column 1 (column 0 receives nothing); column 0 is black.
  const Case cases[] = {
      // Error (3, 0, 0) stays: (49, 50, 51) is as far from 0 as from 100 and maps to 0; 150
      // lies halfway between 100 and 200 and maps to 100.
      {{103, 100, 100}, {49, 50, 51}, {150, 150, 150}, {0, 0, 0}, {100, 100, 100}},
      // Error (4, 0, 0): blue + 4 x 7 / 16 = 1 to the right and + 4 x 4 / 16 = 1 upwards tips both.
      {{104, 100, 100}, {49, 50, 51}, {150, 150, 150}, {100, 100, 100}, {200, 200, 200}},
      // Error 16 in every channel: + 7 to the right (44 -> 51), + 4 upwards (147 -> 151).
      {{116, 116, 116}, {44, 44, 44}, {147, 147, 147}, {100, 100, 100}, {200, 200, 200}},
      {{100, 100, 100}, {44, 44, 44}, {147, 147, 147}, {0, 0, 0}, {100, 100, 100}},
  };
  for (const auto& c : cases) {
    auto from = GreySurface({{0, 0, 0, 0}, {0, 0, 0, 0}});
    SetPixel(*from, 1, 0, c.first);
    SetPixel(*from, 2, 0, c.right);
    SetPixel(*from, 1, 1, c.above);
    auto to = NewSurface(4, 2);
    cImageProcessDIB().ApplyPalette(*from, *to, palette);
    EXPECT_EQ(GetPixel(*to, 2, 0), c.mappedRight) << c.first;
    EXPECT_EQ(GetPixel(*to, 1, 1), c.mappedAbove) << c.first;
  }
}

TEST_F(ApplyPaletteTest, ScanLineFormAgreesWithColumnForm) {
  cPalette blackAndWhite = Load({{0, 0, 0}, {255, 255, 255}});
  std::vector<Bgr> many;
  for (int i = 0; i < 40; ++i) many.push_back({(i * 53) % 256, (i * 97) % 256, (i * 31) % 256});
  many.push_back(many[3]);
  cPalette manyColours = Load(many);
  for (const cPalette* palette : {&blackAndWhite, &manyColours}) {
    // Up to several bands of columns, and a last band of one column.
    for (const auto& [width, height, seed] : {std::tuple{1, 1, 1}, {2, 5, 2}, {3, 3, 3}, {23, 11, 4}, {48, 17, 5},
                                              {300, 4, 6}, {513, 3, 7}}) {
      auto picture = RandomSurface(width, height, static_cast<uint32_t>(seed));
      auto sameSize = Copy(*picture);
      auto wider = Wider(*picture);
      auto toFast = NewSurface(width, height), toExact = NewSurface(width, height);
      cImageProcessDIB processor;
      processor.ApplyPalette(*sameSize, *toFast, const_cast<cPalette&>(*palette));
      processor.ApplyPalette(*wider, *toExact, const_cast<cPalette&>(*palette));
      const std::string what = std::to_string(palette->count()) + " colours, " + std::to_string(width) + "x" + std::to_string(height);
      ExpectSamePixels(*toFast, *toExact, width, height, what);
      ExpectSamePixels(*sameSize, *toExact, width, height, what + ", source");
    }
  }
}

TEST_F(ApplyPaletteTest, UniformGreyOnBlackAndWhite) {
  auto from = GreySurface(std::vector<std::vector<int>>(6, std::vector<int>(7, 128)));
  cPalette palette = Load({{0, 0, 0}, {255, 255, 255}});
  auto to = NewSurface(7, 6);
  cImageProcessDIB().ApplyPalette(*from, *to, palette);
  bool sawBlack = false, sawWhite = false;
  for (int32_t y = 0; y < 6; ++y) {
    // 128 x 3 = 384 against 381 for white: the edges map by their own colour, to white.
    EXPECT_EQ(GetPixel(*to, 0, y), (Bgr{255, 255, 255}));
    EXPECT_EQ(GetPixel(*to, 6, y), (Bgr{255, 255, 255}));
    for (int32_t x = 1; x < 6; ++x) (GetPixel(*to, x, y).blue ? sawWhite : sawBlack) = true;
  }
  EXPECT_TRUE(sawBlack && sawWhite);
}

}  // namespace
}  // namespace torvo
