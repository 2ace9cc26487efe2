// The browser's PNGs go through libpng straight into our rows; every one must give FreeImage's
// own result: the same pixels, or a refusal where FreeImage refuses.
#include "platform/png_rows.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/picture_file.h"
#include "platform/tests/png_for_tests.h"

namespace torvo {
namespace {

using testing::BigEndian;
using testing::Chunk;
using testing::Header;

std::string Bytes(const gdi::Bitmap& b) {
  std::string bytes;
  for (int32_t y = 0; y < b.height(); ++y) bytes.append(reinterpret_cast<const char*>(b.ScanLine(y)), size_t(b.width()) * 3);
  return bytes;
}

// A zlib stream whose header names a window of 2^windowBits bytes.
std::string Deflate(const std::string& raw, int windowBits) {
  z_stream z{};
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string packed(deflateBound(&z, uLong(raw.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
  z.avail_in = uInt(raw.size());
  z.next_out = reinterpret_cast<Bytef*>(packed.data());
  z.avail_out = uInt(packed.size());
  deflate(&z, Z_FINISH);
  packed.resize(z.total_out);
  deflateEnd(&z);
  return packed;
}

// Rows of varied pixels, channels bytes a pixel, with the filter types of `filters` ("0" to "4")
// over and over, or every type in turn.
std::string RawRows(uint32_t width, uint32_t height, int channels, uint32_t rowsGiven, const std::string& filters) {
  std::string raw;
  uint32_t seed = 12345;
  for (uint32_t y = 0; y < rowsGiven; ++y) {
    raw.push_back(filters.empty() ? char(y % 5) : char(filters[y % filters.size()] - '0'));
    for (uint32_t i = 0; i < width * channels; ++i) {
      seed = seed * 1103515245 + 12345;
      raw.push_back(char(seed >> 16));
    }
  }
  (void)height;
  return raw;
}

struct Parts {
  uint32_t width = 37, height = 23;
  uint8_t depth = 8, colourType = 2, interlace = 0;
  std::string beforePixels;  // chunks between IHDR and IDAT
  int idatPieces = 1;
  uint32_t rowsGiven = 23;
  int windowBits = 15;
  std::string afterStream;  // bytes after the zlib stream, inside the pixel chunks
  std::string filters;      // the rows' filter types, as RawRows takes them
  std::string afterPixels = Chunk("IEND", "");
};

std::string Build(const Parts& p) {
  const int channels = p.colourType == 6 ? 4 : p.colourType == 2 ? 3 : 1;
  std::string header = Header(p.width, p.height, p.depth, p.colourType);
  header[12] = char(p.interlace);
  const std::string packed =
      Deflate(RawRows(p.width, p.height, channels * (p.depth / 8), p.rowsGiven, p.filters), p.windowBits) +
      p.afterStream;
  std::string png = std::string("\x89PNG\r\n\x1A\n", 8) + Chunk("IHDR", header) + p.beforePixels;
  const size_t piece = packed.size() / p.idatPieces + 1;
  for (size_t at = 0; at < packed.size(); at += piece) png += Chunk("IDAT", packed.substr(at, piece));
  return png + p.afterPixels;
}

std::string Gamma(uint32_t hundredThousandths) { return Chunk("gAMA", BigEndian(hundredThousandths)); }

TEST(PngRowsTest, GivesFreeImagesPixelsAndRefusals) {
  struct Case {
    const char* name;
    Parts parts;
    bool decodes;  // what FreeImage does with it too
  };
  auto with = [](auto change) {
    Parts p;
    change(p);
    return p;
  };
  const std::string transparentColour = Chunk("tRNS", std::string("\0\x10\0\x20\0\x30", 6));
  std::string badCrc = Chunk("tEXt", std::string("Title\0page", 10));
  badCrc.back() ^= 1;
  const std::vector<Case> cases = {
      {"rgb", {}, true},
      {"rgba", with([](Parts& p) { p.colourType = 6; }), true},
      {"rgb with a transparent colour", with([&](Parts& p) { p.beforePixels = transparentColour; }), true},
      {"gamma 1/2.2", with([](Parts& p) { p.beforePixels = Gamma(45455); }), true},
      {"gamma 1", with([](Parts& p) { p.beforePixels = Gamma(100000); }), true},
      {"gamma 0.8 with alpha", with([](Parts& p) { p.beforePixels = Gamma(80000); p.colourType = 6; }), true},
      {"srgb", with([](Parts& p) { p.beforePixels = Chunk("sRGB", std::string(1, '\0')); }), true},
      {"several pixel chunks", with([](Parts& p) { p.idatPieces = 7; }), true},
      {"one pixel", with([](Parts& p) { p.width = p.height = p.rowsGiven = 1; }), true},
      {"a text chunk with a wrong check", with([&](Parts& p) { p.beforePixels = badCrc; }), true},
      {"nothing after the pixels", with([](Parts& p) { p.afterPixels.clear(); }), false},
      {"rows missing", with([](Parts& p) { p.rowsGiven = 10; }), false},
      {"more rows than the header says", with([](Parts& p) { p.rowsGiven = 30; }), true},
      {"a header that promises far more", with([](Parts& p) { p.width = 2000; p.height = 2000; }), false},
      {"a chunk that claims 50 MB more than the file has",
       with([](Parts& p) { p.beforePixels = BigEndian(50000000) + "tEXtTitle"; }), false},
      {"wider than the limit", with([](Parts& p) { p.width = 2049; p.rowsGiven = 1; p.height = 1; }), false},
      // FreeImage's road.
      {"grey", with([](Parts& p) { p.colourType = 0; }), true},
      {"16 bits", with([](Parts& p) { p.depth = 16; }), true},
  };
  for (const Case& c : cases) {
    const std::string png = Build(c.parts);
    auto ours = DecodePng(png, 2048);
    auto theirs = DecodePngThroughFreeImage(png, 2048);
    ASSERT_EQ(ours != nullptr, c.decodes) << c.name;
    ASSERT_EQ(theirs != nullptr, c.decodes) << c.name;
    if (!ours) continue;
    EXPECT_EQ(ours->width(), theirs->width()) << c.name;
    EXPECT_EQ(ours->height(), theirs->height()) << c.name;
    EXPECT_TRUE(Bytes(*ours) == Bytes(*theirs)) << c.name;
    EXPECT_EQ(DecodePngRows(png, 2048).outcome,
              c.parts.colourType == 0 || c.parts.depth == 16 ? PngRowsOutcome::kNotTaken : PngRowsOutcome::kDecoded)
        << c.name;
  }
}

// The plain road takes only plain, whole PNGs, and gives libpng's pixels for every one it takes.
TEST(PngRowsTest, PlainRoadTakesOnlyPlainWholePicturesAndGivesLibpngsPixels) {
  struct Case {
    const char* name;
    Parts parts;
    bool plain;
  };
  auto with = [](auto change) {
    Parts p;
    change(p);
    return p;
  };
  const std::string text = Chunk("tEXt", std::string("Title\0page", 10));
  std::string badCrc = text;
  badCrc.back() ^= 1;
  const std::vector<Case> cases = {
      {"rgb", {}, true},
      {"rgba", with([](Parts& p) { p.colourType = 6; }), true},
      {"gamma 1/2.2 with the chunks a picture tool writes",
       with([&](Parts& p) { p.beforePixels = Gamma(45455) + Chunk("cHRM", std::string(32, '\1')) + text; }), true},
      {"srgb", with([](Parts& p) { p.beforePixels = Chunk("sRGB", std::string(1, '\0')); }), true},
      {"text after the pixels", with([&](Parts& p) { p.afterPixels = text + Chunk("IEND", ""); }), true},
      {"several pixel chunks", with([](Parts& p) { p.idatPieces = 7; p.colourType = 6; }), true},
      {"one pixel", with([](Parts& p) { p.width = p.height = p.rowsGiven = 1; }), true},
      {"gamma 1", with([](Parts& p) { p.beforePixels = Gamma(100000); }), false},
      // libpng reads the stream with the window its header names, the plain road with the largest.
      {"a stream that names a smaller window", with([](Parts& p) { p.windowBits = 9; }), false},
      {"bytes after the stream", with([](Parts& p) { p.afterStream = "xy"; p.idatPieces = 3; }), false},
      {"two gammas", with([](Parts& p) { p.beforePixels = Gamma(45455) + Gamma(45455); }), false},
      {"a transparent colour", with([](Parts& p) { p.beforePixels = Chunk("tRNS", std::string("\0\1\0\2\0\3", 6)); }), false},
      {"a text chunk with a wrong check", with([&](Parts& p) { p.beforePixels = badCrc; }), false},
      {"a chunk it does not know", with([](Parts& p) { p.beforePixels = Chunk("zzZz", "x"); }), false},
      {"gamma after the pixels", with([](Parts& p) { p.afterPixels = Gamma(45455) + Chunk("IEND", ""); }), false},
      {"nothing after the pixels", with([](Parts& p) { p.afterPixels.clear(); }), false},
      {"rows missing", with([](Parts& p) { p.rowsGiven = 10; }), false},
      {"more rows than the header says", with([](Parts& p) { p.rowsGiven = 30; }), false},
      {"wider than the limit", with([](Parts& p) { p.width = 2049; p.rowsGiven = 1; p.height = 1; }), false},
      {"grey", with([](Parts& p) { p.colourType = 0; }), false},
      {"16 bits", with([](Parts& p) { p.depth = 16; }), false},
      {"interlaced", with([](Parts& p) { p.interlace = 1; }), false},
  };
  // The pixel chunks parted by another: libpng stops at it, short of rows.
  Parts parted;
  parted.idatPieces = 2;
  std::string partedPng = Build(parted);
  const size_t second = partedPng.rfind("IDAT") - 4;
  partedPng.insert(second, text);
  ASSERT_EQ(DecodePlainPng(partedPng, 2048).outcome, PngRowsOutcome::kNotTaken);
  ASSERT_EQ(DecodeThroughLibpng(partedPng, 2048).outcome, PngRowsOutcome::kRefused);
  for (const Case& c : cases) {
    const std::string png = Build(c.parts);
    const PngRowsResult libpng = DecodeThroughLibpng(png, 2048);
    const PngRowsResult plain = DecodePlainPng(png, 2048);
    ASSERT_EQ(plain.outcome, c.plain ? PngRowsOutcome::kDecoded : PngRowsOutcome::kNotTaken) << c.name;
    if (!c.plain) continue;
    ASSERT_EQ(libpng.outcome, PngRowsOutcome::kDecoded) << c.name;
    EXPECT_TRUE(Bytes(*plain.bitmap) == Bytes(*libpng.bitmap)) << c.name;
  }
}

// Every row filter at every start of a pixel, for both pixel sizes and widths that end a row
// anywhere in a vector's reach; and runs of Paeth rows, which are undone two at a time, of even
// and odd length, at the top, in the middle and at the bottom.
TEST(PngRowsTest, PlainRoadUndoesEveryFilterAsLibpngDoes) {
  struct Case {
    std::string filters;
    uint32_t height;
  };
  for (const Case& c : {Case{"", 41}, Case{"4", 41}, Case{"4", 40}, Case{"4", 1}, Case{"4", 2}, Case{"0441444", 23},
                        Case{"14", 9}, Case{"44423", 16}}) {
    for (uint8_t colourType : {uint8_t{2}, uint8_t{6}}) {
      for (uint32_t width : {1u, 2u, 3u, 5u, 8u, 15u, 16u, 17u, 64u, 333u}) {
        Parts p;
        p.colourType = colourType;
        p.width = width;
        p.filters = c.filters;
        p.height = p.rowsGiven = c.height;
        const std::string png = Build(p);
        const std::string where = c.filters + " " + std::to_string(c.height) + " " + std::to_string(colourType) +
                                  " " + std::to_string(width);
        const PngRowsResult libpng = DecodeThroughLibpng(png, 2048);
        ASSERT_EQ(libpng.outcome, PngRowsOutcome::kDecoded) << where;
        const PngRowsResult plain = DecodePlainPng(png, 2048);
        ASSERT_EQ(plain.outcome, PngRowsOutcome::kDecoded) << where;
        EXPECT_TRUE(Bytes(*plain.bitmap) == Bytes(*libpng.bitmap)) << where;
      }
    }
  }
}

// A PNG cut short anywhere, or with any one byte changed, is refused or read as FreeImage does;
// the plain road refuses none of those it takes.
TEST(PngRowsTest, EveryCutAndChangedByteAsFreeImage) {
  Parts corrected;  // libpng's road, with a gamma to correct
  corrected.width = 9;
  corrected.height = corrected.rowsGiven = 5;
  corrected.colourType = 6;
  corrected.beforePixels = Gamma(70000);
  Parts plain = corrected;  // the plain road, over two pixel chunks
  plain.beforePixels = Gamma(45455);
  plain.idatPieces = 2;
  auto same = [](const std::string& bytes) {
    auto ours = DecodePng(bytes, 2048);
    auto theirs = DecodePngThroughFreeImage(bytes, 2048);
    if ((ours == nullptr) != (theirs == nullptr)) return false;
    return !ours || (ours->width() == theirs->width() && ours->height() == theirs->height() && Bytes(*ours) == Bytes(*theirs));
  };
  for (const Parts& parts : {corrected, plain}) {
    const std::string png = Build(parts);
    for (size_t cut = 0; cut < png.size(); ++cut) {
      ASSERT_TRUE(same(png.substr(0, cut))) << "cut at " << cut;
      ASSERT_EQ(DecodePng(png.substr(0, cut), 2048), nullptr) << "cut at " << cut;
      ASSERT_EQ(DecodePlainPng(png.substr(0, cut), 2048).outcome, PngRowsOutcome::kNotTaken) << "cut at " << cut;
    }
    for (size_t at = 8; at < png.size(); ++at) {
      for (uint8_t flip : {0x01, 0x80}) {
        std::string changed = png;
        changed[at] = char(changed[at] ^ flip);
        ASSERT_TRUE(same(changed)) << "byte " << at << " ^ " << int(flip);
        const PngRowsResult plainRoad = DecodePlainPng(changed, 2048);
        if (plainRoad.outcome == PngRowsOutcome::kDecoded) {
          const PngRowsResult libpng = DecodeThroughLibpng(changed, 2048);
          ASSERT_EQ(libpng.outcome, PngRowsOutcome::kDecoded) << "byte " << at << " ^ " << int(flip);
          ASSERT_TRUE(Bytes(*plainRoad.bitmap) == Bytes(*libpng.bitmap)) << "byte " << at << " ^ " << int(flip);
        }
      }
    }
  }
}

}  // namespace
}  // namespace torvo
