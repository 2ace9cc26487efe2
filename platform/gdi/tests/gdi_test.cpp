#include "platform/gdi/gdi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace torvo::gdi {
namespace {

// A memory context with its own bitmap, filled from a list of top-down rows of bytes.
struct Canvas {
  std::unique_ptr<Bitmap> bitmap;
  std::unique_ptr<DeviceContext> dc;
  Canvas(int32_t w, int32_t h, int32_t bpp) {
    bitmap = Bitmap::Create(w, h, bpp);
    dc = CreateCompatibleDC(nullptr);
    dc->SelectObject(bitmap.get());
  }
  void Fill(uint8_t v) {
    for (int32_t y = 0; y < bitmap->height(); ++y)
      std::fill_n(bitmap->ScanLine(y), bitmap->stride(), v);
  }
  // Byte b of the pixel at (x, y), y from the top.
  uint8_t& At(int32_t x, int32_t y, int32_t b) {
    return bitmap->TopDownRow(y)[x * bitmap->bytesPerPixel() + b];
  }
};

TEST(BitmapTest, StrideAndRefusedSizes) {
  struct Case { int32_t w, h, bpp; bool ok; int32_t stride; };
  const Case cases[] = {
      {1, 1, 24, true, 4},  {2, 1, 24, true, 8},   {3, 2, 24, true, 12}, {4, 1, 24, true, 12},
      {5, 1, 24, true, 16}, {3, 1, 32, true, 12},  {0, 5, 24, false, 0}, {5, 0, 24, false, 0},
      {-1, 5, 24, false, 0}, {5, -3, 24, false, 0}, {4, 4, 16, false, 0},
      {1 << 30, 4, 24, false, 0},  // more bytes than 31 bits hold
  };
  for (const Case& c : cases) {
    auto b = Bitmap::Create(c.w, c.h, c.bpp);
    ASSERT_EQ(b != nullptr, c.ok) << c.w << "x" << c.h << "@" << c.bpp;
    if (!b) continue;
    EXPECT_EQ(b->stride(), c.stride);
    EXPECT_EQ(b->bits()[0], 0);
    EXPECT_EQ(b->TopDownRow(0), b->ScanLine(c.h - 1));
  }
}

// Large pixel memories come from the system in large pages where it can: every byte still starts
// at zero, also where the memory of a written and freed bitmap is given out again.
TEST(BitmapTest, LargeBitmapsStartZeroed) {
  struct Case { int32_t w, h; };
  const Case cases[] = {{1000, 1300}, {1366, 1024}, {4096, 2048}};  // under, just over, far over 4 MB
  for (const Case& c : cases) {
    for (int round = 0; round < 2; ++round) {
      auto b = Bitmap::Create(c.w, c.h, 24);
      ASSERT_NE(b, nullptr) << c.w << "x" << c.h;
      const uint8_t* bits = b->bits();
      const int64_t bytes = int64_t{b->stride()} * c.h;
      int64_t nonZero = 0;
      for (int64_t i = 0; i < bytes; i += 61) nonZero += bits[i] != 0;
      nonZero += bits[bytes - 1] != 0;
      EXPECT_EQ(nonZero, 0) << c.w << "x" << c.h << " round " << round;
      std::fill_n(b->bits(), bytes, uint8_t{0xA7});
      EXPECT_EQ(b->bits()[bytes - 1], 0xA7);
    }
  }
}

TEST(BitBltTest, TruthTableOfEveryKindOfOperation) {
  // Destination byte 0x0F, source byte 0x33, brush byte 0x55 (all channels): each code's index
  // byte is its own truth table over these bit patterns.
  struct Case { uint32_t rop; uint8_t expected; };
  const uint8_t P = 0x55, S = 0x33, D = 0x0F;
  const Case cases[] = {
      {Rop::kSrcCopy, S},
      {Rop::kSrcPaint, static_cast<uint8_t>(S | D)},
      {Rop::kSrcAnd, static_cast<uint8_t>(S & D)},
      {Rop::kSrcInvert, static_cast<uint8_t>(S ^ D)},
      {Rop::kSrcErase, static_cast<uint8_t>(S & ~D)},
      {Rop::kNotSrcCopy, static_cast<uint8_t>(~S)},
      {Rop::kNotSrcErase, static_cast<uint8_t>(~(S | D))},
      {Rop::kMergeCopy, static_cast<uint8_t>(P & S)},
      {Rop::kMergePaint, static_cast<uint8_t>(~S | D)},
      {Rop::kPatCopy, P},
      {Rop::kPatPaint, static_cast<uint8_t>(P | ~S | D)},
      {Rop::kPatInvert, static_cast<uint8_t>(P ^ D)},
      {Rop::kDstInvert, static_cast<uint8_t>(~D)},
      {Rop::kBlackness, 0x00},
      {Rop::kWhiteness, 0xFF},
      {0x00E20746, static_cast<uint8_t>((S & P) | (D & ~S))},  // DSPDxax: S picks P, else D
      {0x00AA0029, D},                                         // no-op
  };
  for (const Case& c : cases) {
    Canvas src(2, 2, 24), dst(2, 2, 24);
    src.Fill(S);
    dst.Fill(D);
    dst.dc->SetBrushColor(Rgb(P, P, P));
    ASSERT_TRUE(BitBlt(dst.dc.get(), 0, 0, 2, 2, src.dc.get(), 0, 0, c.rop)) << std::hex << c.rop;
    for (int y = 0; y < 2; ++y)
      for (int b = 0; b < 6; ++b) EXPECT_EQ(dst.bitmap->TopDownRow(y)[b], c.expected) << std::hex << c.rop;
    // Padding after the last pixel is not drawn on.
    EXPECT_EQ(dst.bitmap->TopDownRow(0)[6], D);
  }
}

// Every one of the 256 truth tables, on rows long enough for the word-at-a-time path and odd
// enough for its tail, against the definition taken bit by bit.
TEST(BitBltTest, AllTruthTablesBitByBit) {
  const ColorRef brush = Rgb(0x12, 0x3C, 0xA5);
  for (int32_t bpp : {24, 32}) {
    for (uint32_t index = 0; index < 256; ++index) {
      Canvas src(13, 2, 24), dst(13, 2, bpp);
      uint32_t seed = index * 7919 + static_cast<uint32_t>(bpp);
      for (Canvas* c : {&src, &dst})
        for (int32_t y = 0; y < 2; ++y)
          for (int32_t b = 0; b < c->bitmap->stride(); ++b) {
            seed = seed * 1664525u + 1013904223u;
            c->bitmap->ScanLine(y)[b] = static_cast<uint8_t>(seed >> 24);
          }
      std::vector<uint8_t> before(dst.bitmap->ScanLine(0), dst.bitmap->ScanLine(0) + 2 * dst.bitmap->stride());
      dst.dc->SetBrushColor(brush);
      ASSERT_TRUE(BitBlt(dst.dc.get(), 0, 0, 13, 2, src.dc.get(), 0, 0, (index << 16) | 0x1234));
      const int32_t bytes = bpp / 8;
      const uint8_t pattern[4] = {0xA5, 0x3C, 0x12, 0};
      for (int32_t y = 0; y < 2; ++y) {
        for (int32_t b = 0; b < dst.bitmap->stride(); ++b) {
          const uint8_t old = before[static_cast<size_t>(y * dst.bitmap->stride() + b)];
          uint8_t expected = old;  // bytes past the last pixel stay
          if (b < 13 * bytes) {
            const int32_t x = b / bytes, lane = b % bytes;
            const uint8_t S = lane < 3 ? src.bitmap->ScanLine(y)[3 * x + lane] : 0;
            const uint8_t P = pattern[lane];
            expected = 0;
            for (int bit = 0; bit < 8; ++bit) {
              int k = ((P >> bit) & 1) << 2 | ((S >> bit) & 1) << 1 | ((old >> bit) & 1);
              expected |= static_cast<uint8_t>(((index >> k) & 1) << bit);
            }
          }
          ASSERT_EQ(dst.bitmap->ScanLine(y)[b], expected) << "rop " << index << " bpp " << bpp << " byte " << b;
        }
      }
    }
  }
}

TEST(BitBltTest, BrushIsWhiteUnlessSetAndKeepsChannelOrder) {
  Canvas dst(1, 1, 24);
  ASSERT_TRUE(BitBlt(dst.dc.get(), 0, 0, 1, 1, nullptr, 0, 0, Rop::kPatCopy));
  EXPECT_EQ(dst.At(0, 0, 0), 255);
  dst.dc->SetBrushColor(Rgb(10, 20, 30));
  ASSERT_TRUE(BitBlt(dst.dc.get(), 0, 0, 1, 1, nullptr, 0, 0, Rop::kPatCopy));
  EXPECT_EQ(dst.At(0, 0, 0), 30);  // blue
  EXPECT_EQ(dst.At(0, 0, 1), 20);
  EXPECT_EQ(dst.At(0, 0, 2), 10);  // red
}

TEST(BitBltTest, SourceOperationWithoutSourceFails) {
  Canvas dst(1, 1, 24);
  EXPECT_FALSE(BitBlt(dst.dc.get(), 0, 0, 1, 1, nullptr, 0, 0, Rop::kSrcCopy));
  auto empty = CreateCompatibleDC(nullptr);
  EXPECT_FALSE(BitBlt(empty.get(), 0, 0, 1, 1, dst.dc.get(), 0, 0, Rop::kSrcCopy));
  EXPECT_FALSE(BitBlt(dst.dc.get(), 0, 0, 1, 1, empty.get(), 0, 0, Rop::kSrcCopy));
}

// Source pixels numbered 1..12 in a 4 x 3 picture; a copy of the given rectangle onto a blank
// 3 x 3 canvas gives the listed canvas (top-down, first byte of each pixel).
TEST(BitBltTest, ClipsToBothBitmaps) {
  struct Case {
    int32_t dx, dy, w, h, sx, sy;
    std::vector<uint8_t> expected;
  };
  const Case cases[] = {
      {0, 0, 3, 3, 0, 0, {1, 2, 3, 5, 6, 7, 9, 10, 11}},
      {1, 1, 9, 9, 0, 0, {0, 0, 0, 0, 1, 2, 0, 5, 6}},
      {-1, -1, 3, 3, 0, 0, {6, 7, 0, 10, 11, 0, 0, 0, 0}},
      {0, 0, 3, 3, -1, -2, {0, 0, 0, 0, 0, 0, 0, 1, 2}},
      {0, 0, 3, 3, 2, 1, {7, 8, 0, 11, 12, 0, 0, 0, 0}},
      {0, 0, 0, 3, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {0, 0, 3, -1, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {5, 0, 3, 3, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (int32_t srcBpp : {24, 32}) {
    for (int32_t dstBpp : {24, 32}) {
      for (const Case& c : cases) {
        Canvas src(4, 3, srcBpp), dst(3, 3, dstBpp);
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < 4; ++x) src.At(x, y, 0) = static_cast<uint8_t>(1 + y * 4 + x);
        ASSERT_TRUE(BitBlt(dst.dc.get(), c.dx, c.dy, c.w, c.h, src.dc.get(), c.sx, c.sy, Rop::kSrcCopy));
        std::vector<uint8_t> got;
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < 3; ++x) got.push_back(dst.At(x, y, 0));
        EXPECT_EQ(got, c.expected) << srcBpp << "->" << dstBpp << " at " << c.dx << "," << c.dy;
      }
    }
  }
}

TEST(BitBltTest, ConvertsBetween24And32Bits) {
  Canvas c24(2, 1, 24), c32(2, 1, 32);
  const uint8_t pixels32[8] = {1, 2, 3, 99, 4, 5, 6, 98};
  std::copy_n(pixels32, 8, c32.bitmap->ScanLine(0));
  ASSERT_TRUE(BitBlt(c24.dc.get(), 0, 0, 2, 1, c32.dc.get(), 0, 0, Rop::kSrcCopy));
  EXPECT_EQ(std::vector<uint8_t>(c24.bitmap->ScanLine(0), c24.bitmap->ScanLine(0) + 8),
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 0, 0}));
  std::fill_n(c32.bitmap->ScanLine(0), 8, 0xEE);
  ASSERT_TRUE(BitBlt(c32.dc.get(), 0, 0, 2, 1, c24.dc.get(), 0, 0, Rop::kSrcCopy));
  EXPECT_EQ(std::vector<uint8_t>(c32.bitmap->ScanLine(0), c32.bitmap->ScanLine(0) + 8),
            (std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 6, 0}));
}

TEST(BitBltTest, OverlappingTransferWithinOneBitmapReadsTheOldPixels) {
  for (uint32_t rop : {static_cast<uint32_t>(Rop::kSrcCopy), static_cast<uint32_t>(Rop::kSrcInvert)}) {
    for (int32_t shift : {1, -1}) {
      Canvas c(1, 5, 24);
      for (int y = 0; y < 5; ++y) c.At(0, y, 0) = static_cast<uint8_t>(y + 1);
      ASSERT_TRUE(BitBlt(c.dc.get(), 0, shift > 0 ? 1 : 0, 1, 4, c.dc.get(), 0, shift > 0 ? 0 : 1, rop));
      std::vector<uint8_t> got;
      for (int y = 0; y < 5; ++y) got.push_back(c.At(0, y, 0));
      std::vector<uint8_t> expected =
          shift > 0 ? std::vector<uint8_t>{1, 1, 2, 3, 4} : std::vector<uint8_t>{2, 3, 4, 5, 5};
      if (rop == Rop::kSrcInvert) {
        expected = shift > 0 ? std::vector<uint8_t>{1, 2 ^ 1, 3 ^ 2, 4 ^ 3, 5 ^ 4}
                             : std::vector<uint8_t>{1 ^ 2, 2 ^ 3, 3 ^ 4, 4 ^ 5, 5};
      }
      EXPECT_EQ(got, expected) << std::hex << rop << " shift " << shift;
    }
  }
}

TEST(GdiTest, CompatibleObjectsAndDescriptions) {
  auto screenDc = CreateCompatibleDC(nullptr);
  auto bmp = CreateCompatibleBitmap(screenDc.get(), 3, 2);
  ASSERT_TRUE(bmp);
  EXPECT_EQ(bmp->bitsPerPixel(), DeviceContext::kScreenBitsPerPixel);
  auto dib = CreateDIBSection(screenDc.get(), 300, 200, 24);
  screenDc->SelectObject(dib.get());
  EXPECT_EQ(CreateCompatibleBitmap(screenDc.get(), 1, 1)->bitsPerPixel(), 24);
  BitmapDescription d = DescribeBitmap(*dib);
  EXPECT_EQ(d.width, 300);
  EXPECT_EQ(d.height, 200);
  EXPECT_EQ(d.widthBytes, 900);
  EXPECT_EQ(d.bitsPerPixel, 24);
  EXPECT_EQ(d.bits, dib->bits());
  EXPECT_EQ(screenDc->SelectObject(nullptr), dib.get());
}

}  // namespace
}  // namespace torvo::gdi
