#include "imaging/cDIBSection.h"

#include <gtest/gtest.h>

#include "imaging/tests/surface_test_support.h"
#include "platform/error.h"

namespace torvo {
namespace {

using surface_test::Byte;
using surface_test::Flat;
using surface_test::kPadding;

TEST(cDIBSectionTest, BytesPerScanLineRoundsUpToFourBytes) {
  const std::pair<int32_t, int32_t> cases[] = {
      {0, 0}, {1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {300, 900}, {715827881, 2147483644}};
  for (auto [width, expected] : cases) {
    cDIBSection s;
    std::unique_ptr<gdi::Bitmap> bitmap;
    // A height of 0 fills the header without creating anything.
    EXPECT_FALSE(s.CreateDIB(nullptr, width, 0, bitmap));
    EXPECT_EQ(s.BytesPerScanLine(), expected) << width;
  }
}

TEST(cDIBSectionTest, OverflowingSizesRaiseSixAndLeaveTheSurfaceEmpty) {
  // 3 x width + 3 leaves 32 bits; then BytesPerScanLine x height does.
  const std::pair<int32_t, int32_t> cases[] = {{715827882, 1}, {100000, 100000}, {-715827883, 1}};
  for (auto [width, height] : cases) {
    cDIBSection s;
    ASSERT_TRUE(s.Create(2, 2));
    try {
      s.Create(width, height);
      ADD_FAILURE() << width << "x" << height << " raised nothing";
    } catch (const TorvoError& e) {
      EXPECT_EQ(e.number(), 6);
    }
    EXPECT_EQ(s.Width(), width);
    EXPECT_EQ(s.Height(), height);
    EXPECT_EQ(s.hdc(), nullptr);
    EXPECT_EQ(s.hDib(), nullptr);
    EXPECT_EQ(s.DIBSectionBitsPtr(), nullptr);
  }
}

TEST(cDIBSectionTest, SizesThatCannotBeCreatedReturnFalseAndKeepTheRequestedSize) {
  const std::pair<int32_t, int32_t> cases[] = {{0, 5}, {5, 0}, {-1, 5}, {5, -1}, {0, 0}};
  for (auto [width, height] : cases) {
    cDIBSection s;
    ASSERT_TRUE(s.Create(3, 3));
    EXPECT_FALSE(s.Create(width, height));
    EXPECT_EQ(s.Width(), width);
    EXPECT_EQ(s.Height(), height);
    EXPECT_EQ(s.hdc(), nullptr);
    EXPECT_EQ(s.hDib(), nullptr);
    EXPECT_EQ(s.DIBSectionBitsPtr(), nullptr);
  }
}

TEST(cDIBSectionTest, CreatedSurfaceHasItsHeaderContextAndZeroedMemory) {
  cDIBSection s;
  EXPECT_EQ(s.Width(), 0);
  EXPECT_EQ(s.Height(), 0);
  ASSERT_TRUE(s.Create(5, 3));
  EXPECT_EQ(s.Width(), 5);
  EXPECT_EQ(s.Height(), 3);
  EXPECT_EQ(s.BytesPerScanLine(), 16);
  ASSERT_NE(s.hdc(), nullptr);
  ASSERT_NE(s.hDib(), nullptr);
  EXPECT_EQ(s.hdc()->selectedBitmap(), s.hDib());
  EXPECT_EQ(s.DIBSectionBitsPtr(), s.hDib()->bits());
  EXPECT_EQ(s.hDib()->bitsPerPixel(), 24);
  EXPECT_EQ(surface_test::AllBytes(s), std::vector<uint8_t>(48, 0));

  // A new Create drops the old pixels; ClearUp keeps the size it reports.
  std::fill_n(s.DIBSectionBitsPtr(), 48, 0xFF);
  ASSERT_TRUE(s.Create(2, 2));
  EXPECT_EQ(surface_test::AllBytes(s), std::vector<uint8_t>(16, 0));
  s.ClearUp();
  EXPECT_EQ(s.Width(), 2);
  EXPECT_EQ(s.Height(), 2);
  EXPECT_EQ(s.hdc(), nullptr);
  EXPECT_EQ(s.hDib(), nullptr);
  EXPECT_EQ(s.DIBSectionBitsPtr(), nullptr);
  s.ClearUp();  // twice is harmless
}

TEST(cDIBSectionTest, CreateFromPictureCopiesTopRowIntoHighestScanLine) {
  for (int32_t bpp : {24, 32}) {
    auto bitmap = gdi::Bitmap::Create(300, 200, bpp);
    const int32_t bytes = bitmap->bytesPerPixel();
    // Top-left pixel blue 1, green 2, red 3; bottom-right 7, 8, 9.
    uint8_t* topLeft = bitmap->TopDownRow(0);
    topLeft[0] = 1, topLeft[1] = 2, topLeft[2] = 3;
    uint8_t* bottomRight = bitmap->TopDownRow(199) + 299 * bytes;
    bottomRight[0] = 7, bottomRight[1] = 8, bottomRight[2] = 9;
    gdi::Picture picture(std::move(bitmap));
    cDIBSection s;
    s.CreateFromPicture(picture);
    EXPECT_EQ(s.Width(), 300);
    EXPECT_EQ(s.Height(), 200);
    EXPECT_EQ(s.BytesPerScanLine(), 900);
    EXPECT_EQ(*Byte(s, 0, 199), 1);
    EXPECT_EQ(*Byte(s, 1, 199), 2);
    EXPECT_EQ(*Byte(s, 2, 199), 3);
    EXPECT_EQ(*Byte(s, 897, 0), 7);
    EXPECT_EQ(*Byte(s, 899, 0), 9);
    EXPECT_NE(picture.Handle(), nullptr);  // the picture keeps its bitmap
  }
  gdi::Picture empty;
  cDIBSection s;
  s.CreateFromPicture(empty);
  EXPECT_EQ(s.hdc(), nullptr);
}

// Paints a 3 x 2 surface (first byte of each pixel: 1 2 3 on the top row, 4 5 6 below) onto a
// 4 x 3 canvas filled with 0xEE, and lists the canvas top-down.
TEST(cDIBSectionTest, PaintPictureExtentsAndPositions) {
  struct Case {
    int32_t left, top, width, height, srcLeft, srcTop;
    std::vector<int> expected;
  };
  const int E = 0xEE;
  const Case cases[] = {
      {0, 0, -1, -1, 0, 0, {1, 2, 3, E, 4, 5, 6, E, E, E, E, E}},
      {1, 1, -5, -1, 0, 0, {E, E, E, E, E, 1, 2, 3, E, 4, 5, 6}},
      {0, 0, 0, -1, 0, 0, {E, E, E, E, E, E, E, E, E, E, E, E}},
      {0, 0, -1, 0, 0, 0, {E, E, E, E, E, E, E, E, E, E, E, E}},
      {0, 0, 2, 1, 1, 1, {5, 6, E, E, E, E, E, E, E, E, E, E}},
      {2, 0, -1, -1, 0, 0, {E, E, 1, 2, E, E, 4, 5, E, E, E, E}},
  };
  for (const Case& c : cases) {
    cDIBSection s;
    ASSERT_TRUE(s.Create(3, 2));
    for (int x = 0; x < 3; ++x) {
      *Byte(s, 3 * x, 1) = static_cast<uint8_t>(1 + x);
      *Byte(s, 3 * x, 0) = static_cast<uint8_t>(4 + x);
    }
    auto canvas = Flat(4, 3, 0xEE);
    s.PaintPicture(canvas->hdc(), c.left, c.top, c.width, c.height, c.srcLeft, c.srcTop);
    std::vector<int> got;
    for (int y = 2; y >= 0; --y)
      for (int x = 0; x < 4; ++x) got.push_back(*Byte(*canvas, 3 * x, y));
    EXPECT_EQ(got, c.expected) << c.left << "," << c.top << " " << c.width << "x" << c.height;
  }
}

TEST(cDIBSectionTest, LoadPictureBltCopiesTheWholeSourceAtTheOrigin) {
  auto source = surface_test::Random(5, 4, 7);
  auto target = Flat(5, 4, 0);
  target->LoadPictureBlt(source->hdc());
  EXPECT_EQ(surface_test::AllBytes(*target), surface_test::AllBytes(*source));

  // A partial, inverted transfer from (1, 1) of the source into the target's corner.
  auto inverted = Flat(5, 4, 0);
  inverted->LoadPictureBlt(source->hdc(), 1, 1, 2, 1, gdi::Rop::kNotSrcCopy);
  // Source row 1 from the top is scan line 2; the target's top row is scan line 3.
  for (int c = 0; c < 6; ++c) {
    EXPECT_EQ(*Byte(*inverted, c, 3), static_cast<uint8_t>(~*Byte(*source, 3 + c, 2)));
  }
  EXPECT_EQ(*Byte(*inverted, 6, 3), 0);
  EXPECT_EQ(*Byte(*inverted, 0, 2), 0);

  // A transfer from a surface that has been cleared does nothing and raises nothing.
  source->ClearUp();
  target->LoadPictureBlt(source->hdc());
}

}  // namespace
}  // namespace torvo
