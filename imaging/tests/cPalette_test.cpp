#include "imaging/cPalette.h"
#include "imaging/nearest_colour.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/error.h"

namespace torvo {
namespace {

class PaletteFile : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramName("TorvoTool");
    folder_ = std::filesystem::temp_directory_path() / ("torvo-palette-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::filesystem::path Write(const std::string& bytes) {
    auto path = folder_ / (std::to_string(++files_) + ".pal");
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  struct Colour {
    int red, green, blue;
    bool operator==(const Colour&) const = default;
  };
  static std::vector<Colour> Colours(const cPalette& palette) {
    std::vector<Colour> colours;
    for (int32_t i = 1; i <= palette.count(); ++i)
      colours.push_back({palette.Red(i), palette.Green(i), palette.Blue(i)});
    return colours;
  }

  std::filesystem::path folder_;
  int files_ = 0;
};

TEST_F(PaletteFile, Grammar) {
  struct Case {
    std::string text;
    std::vector<Colour> colours;
  };
  const Case cases[] = {
      {"", {}},
      {"10 20 30", {{10, 20, 30}}},
      {"10 20 30\r\n", {{10, 20, 30}}},
      {"JASC-PAL\r\n0100\r\n2\r\n0 0 0\r\n255 255 255\r\n", {{0, 0, 0}, {255, 255, 255}}},
      {"10  20 30\r\n1 2 3", {{1, 2, 3}}},     // two spaces: four fields, skipped
      {"10 20 30 \r\n1 2 3", {{1, 2, 3}}},     // trailing space: four fields
      {"1 2\r\n\r\n1 2 3 4\r\n4 5 6", {{4, 5, 6}}},
      {"1 2 3\n4 5 6\n", {}},                  // LF alone cuts nothing: one line of five fields
      {"1 2 3\r4 5 6", {}},
      {"\t7\t 8.5 9.51\r\n+1 -0 0.5", {{7, 8, 10}, {1, 0, 0}}},  // tabs, halves to even
      {"254.5 1.5 255.49", {{254, 2, 255}}},
      {"007 0010 000", {{7, 10, 0}}},
  };
  for (const auto& c : cases) {
    cPalette palette;
    EXPECT_TRUE(palette.LoadFromFile(Write(c.text)));
    EXPECT_EQ(Colours(palette), c.colours) << c.text;
    EXPECT_EQ(palette.count(), static_cast<int32_t>(c.colours.size()));
  }
}

TEST_F(PaletteFile, BadFieldsFailAndLeaveThePaletteEmpty) {
  struct Case {
    std::string text;
    int32_t number;
  };
  const Case cases[] = {
      {"1 2 3\r\n10 20 ", 13},  // empty last field
      {"1 2 3\r\n10 20 x", 13}, {"1 2 3\r\n10 20 3x", 13}, {"1 2 3\r\n. 1 2", 13},
      {"1 2 3\r\n1e2 1 2", 13}, {"1 2 3\r\n0x10 1 2", 13}, {"1 2 3\r\n1 2 3\n", 13},
      {"1 2 3\r\n10 20 300", 6}, {"1 2 3\r\n-1 0 0", 6},  {"1 2 3\r\n255.5 0 0", 6},
      {"1 2 3\r\n99999999999999999999 0 0", 6},
  };
  for (const auto& c : cases) {
    cPalette palette;
    palette.LoadFromFile(Write("9 9 9"));
    ASSERT_EQ(palette.count(), 1);
    try {
      palette.LoadFromFile(Write(c.text));
      ADD_FAILURE() << "loaded " << c.text;
    } catch (const TorvoError& e) {
      EXPECT_EQ(e.number(), c.number) << c.text;
      EXPECT_EQ(e.source(), "TorvoTool.cPalette");
    }
    EXPECT_EQ(palette.count(), 0) << c.text;
    EXPECT_EQ(palette.ClosestIndex(9, 9, 9), 0);
  }
}

TEST_F(PaletteFile, MissingFolderAndOversizedFiles) {
  cPalette palette;
  palette.LoadFromFile(Write("1 2 3"));
  try {
    palette.LoadFromFile(folder_ / "none.pal");
    ADD_FAILURE();
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), 53);
    EXPECT_EQ(e.source(), "TorvoTool.cPalette");
  }
  EXPECT_EQ(palette.count(), 0);

  EXPECT_THROW(palette.LoadFromFile(folder_), TorvoError);

  // Exactly the limit still loads; one byte more is refused with a clear message.
  std::string atLimit = "1 2 3\r\n";
  atLimit.resize(cPalette::kMaxFileBytes, 'x');
  EXPECT_TRUE(palette.LoadFromFile(Write(atLimit)));
  EXPECT_EQ(palette.count(), 1);
  try {
    palette.LoadFromFile(Write(atLimit + "x"));
    ADD_FAILURE();
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.source(), "TorvoTool.cPalette");
    EXPECT_NE(e.description().find("16 MiB"), std::string::npos) << e.description();
  }
  EXPECT_EQ(palette.count(), 0);
}

TEST_F(PaletteFile, IndexedComponents) {
  cPalette palette;
  try {
    palette.Red(1);
    ADD_FAILURE();
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), 9);
    EXPECT_NE(e.description().find("empty"), std::string::npos);
  }
  palette.LoadFromFile(Write("1 2 3\r\n4 5 6"));
  EXPECT_EQ(palette.Red(2), 4);
  EXPECT_EQ(palette.Green(2), 5);
  EXPECT_EQ(palette.Blue(1), 3);
  for (int32_t bad : {0, -1, 3}) {
    try {
      palette.Green(bad);
      ADD_FAILURE() << bad;
    } catch (const TorvoError& e) {
      EXPECT_EQ(e.number(), 9);
    }
  }
}

TEST_F(PaletteFile, ClosestIndex) {
  cPalette palette;
  EXPECT_EQ(palette.ClosestIndex(0, 0, 0), 0);

  palette.LoadFromFile(Write("255 255 255"));
  // The greatest possible distance still finds the only entry.
  EXPECT_EQ(palette.ClosestIndex(0, 0, 0), 1);

  palette.LoadFromFile(Write("10 10 10\r\n0 0 0\r\n10 10 10\r\n20 20 20\r\n0 0 0"));
  struct Case {
    int32_t red, green, blue, index;
  };
  const Case cases[] = {
      {10, 10, 10, 1}, {0, 0, 0, 2},   {20, 20, 20, 4}, {5, 5, 5, 1},  // tie 15/15: lower index
      {4, 5, 5, 2},    {15, 15, 15, 1}, {16, 15, 15, 4}, {255, 0, 0, 2},
      {-5, 0, 0, 2},   {300, 20, 20, 4},  // off the byte range, still nearest
  };
  for (const auto& c : cases)
    EXPECT_EQ(palette.ClosestIndex(c.red, c.green, c.blue), c.index) << c.red << "," << c.green << "," << c.blue;
}

// A palette of 300 colours spans several search blocks: the answer must equal a plain scan.
TEST_F(PaletteFile, ClosestIndexMatchesAPlainScanOnALargePalette) {
  std::string text;
  std::vector<Colour> colours;
  uint32_t seed = 12345;
  auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 16 & 255; };
  for (int i = 0; i < 300; ++i) {
    Colour c{static_cast<int>(next()) & 0xF0, static_cast<int>(next()) & 0xF0, static_cast<int>(next()) & 0xF0};
    colours.push_back(c);
    text += std::to_string(c.red) + " " + std::to_string(c.green) + " " + std::to_string(c.blue) + "\r\n";
  }
  cPalette palette;
  palette.LoadFromFile(Write(text));
  ASSERT_EQ(palette.count(), 300);
  for (int red = 0; red < 256; red += 5) {
    for (int green = 0; green < 256; green += 7) {
      for (int blue = 0; blue < 256; blue += 11) {
        int best = 0, bestDistance = 1 << 30;
        for (int i = 0; i < 300; ++i) {
          int d = std::abs(red - colours[i].red) + std::abs(green - colours[i].green) + std::abs(blue - colours[i].blue);
          if (d < bestDistance) bestDistance = d, best = i + 1;
        }
        ASSERT_EQ(palette.ClosestIndex(red, green, blue), best) << red << "," << green << "," << blue;
      }
    }
  }
}

// Every form of the search this machine has gives the lowest nearest index, on palettes with
// repeated colours, ties, and sizes around the block size.
TEST(NearestColour, EveryFormAgrees) {
  using namespace nearest_colour;
  std::vector<std::pair<const char*, Search>> forms{{"scalar", Scalar}, {"sse2", Sse2()}, {"avx2", Avx2()}};
  uint32_t seed = 99;
  auto next = [&] { return (seed = seed * 1664525u + 1013904223u) >> 24; };
  for (size_t count : {1, 2, 15, 16, 17, 31, 32, 33, 48, 256, 300}) {
    const size_t padded = (count + kBlock - 1) / kBlock * kBlock;
    std::vector<int16_t> red(padded, kFarAway), green(padded, 0), blue(padded, 0);
    for (size_t i = 0; i < count; ++i) {
      // Coarse levels make ties and repeats common.
      red[i] = static_cast<int16_t>(next() & 0xC0);
      green[i] = static_cast<int16_t>(next() & 0xC0);
      blue[i] = static_cast<int16_t>(next() & 0xC0);
    }
    for (int probe = 0; probe < 2000; ++probe) {
      const int16_t r = static_cast<int16_t>(next()), g = static_cast<int16_t>(next()), b = static_cast<int16_t>(next());
      size_t expected = 0;
      int best = 1 << 30;
      for (size_t i = 0; i < count; ++i) {
        const int d = std::abs(r - red[i]) + std::abs(g - green[i]) + std::abs(b - blue[i]);
        if (d < best) best = d, expected = i;
      }
      for (const auto& [name, form] : forms) {
        if (!form) continue;
        ASSERT_EQ(form(red.data(), green.data(), blue.data(), padded, r, g, b), expected)
            << name << ", " << count << " colours, probe " << r << "," << g << "," << b;
      }
    }
  }
}

}  // namespace
}  // namespace torvo
