#include "upload/box_rescale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "platform/picture_file.h"

namespace torvo::upload {
namespace {

// A 24-bit picture of noise, or of smooth gradients with noise on them (sums near a half).
FIBITMAP* Picture(unsigned width, unsigned height, std::mt19937& random, bool smooth) {
  FIBITMAP* dib = FreeImage_Allocate(int(width), int(height), 24);
  FreeImage_SetDotsPerMeterX(dib, 3780);
  FreeImage_SetDotsPerMeterY(dib, 2835);
  std::uniform_int_distribution<int> byte(0, 255), jitter(-2, 2);
  for (unsigned y = 0; y < height; ++y) {
    BYTE* row = FreeImage_GetScanLine(dib, int(y));
    for (unsigned i = 0; i < width * 3; ++i)
      row[i] = smooth ? BYTE(std::clamp(int((i * 7 + y * 3) % 256) + jitter(random), 0, 255)) : BYTE(byte(random));
  }
  return dib;
}

// Every byte, the size and the resolution of BoxRescale's result are FreeImage_Rescale's.
void ExpectSameAsFreeImage(FIBITMAP* picture, unsigned width, unsigned height, const std::string& what) {
  const FreeImageBitmap wanted(FreeImage_Rescale(picture, int(width), int(height), FILTER_BOX));
  const FreeImageBitmap got(BoxRescale(picture, width, height));
  ASSERT_NE(wanted.get(), nullptr) << what;
  ASSERT_NE(got.get(), nullptr) << what;
  ASSERT_EQ(FreeImage_GetBPP(got.get()), FreeImage_GetBPP(wanted.get())) << what;
  ASSERT_EQ(FreeImage_GetWidth(got.get()), FreeImage_GetWidth(wanted.get())) << what;
  ASSERT_EQ(FreeImage_GetHeight(got.get()), FreeImage_GetHeight(wanted.get())) << what;
  EXPECT_EQ(FreeImage_GetDotsPerMeterX(got.get()), FreeImage_GetDotsPerMeterX(wanted.get())) << what;
  EXPECT_EQ(FreeImage_GetDotsPerMeterY(got.get()), FreeImage_GetDotsPerMeterY(wanted.get())) << what;
  const unsigned rowBytes = FreeImage_GetLine(wanted.get());
  for (unsigned y = 0; y < height; ++y) {
    const BYTE* a = FreeImage_GetScanLine(got.get(), int(y));
    const BYTE* b = FreeImage_GetScanLine(wanted.get(), int(y));
    if (std::memcmp(a, b, rowBytes) != 0) {
      unsigned i = 0;
      while (a[i] == b[i]) ++i;
      ADD_FAILURE() << what << ": row " << y << " byte " << i << ": " << int(a[i]) << ", FreeImage " << int(b[i]);
      return;
    }
  }
}

TEST(BoxRescale, GivesFreeImagesBytesForCapturesOfEverySize) {
  std::mt19937 random(20261211);
  struct Case {
    unsigned fromWidth, fromHeight, width, height;
  } cases[] = {
      {1920, 1080, 200, 112},  // the thumbnail of a full-HD capture
      {2560, 1440, 200, 112},  {1366, 768, 200, 112}, {1100, 900, 200, 163}, {3840, 2160, 200, 112},
      {401, 301, 200, 150},    // a little over twice
      {201, 151, 200, 150},    // one pixel less
      {640, 480, 7, 5},        {5, 5, 3, 2},          {800, 600, 200, 900},  // taller: the height grows
      {300, 1, 200, 1},        // one row: FreeImage's own way
      {300, 200, 300, 100},    // the width kept: FreeImage's own way
  };
  for (const Case& c : cases) {
    for (bool smooth : {false, true}) {
      const FreeImageBitmap picture(Picture(c.fromWidth, c.fromHeight, random, smooth));
      ExpectSameAsFreeImage(picture.get(), c.width, c.height,
                            std::to_string(c.fromWidth) + "x" + std::to_string(c.fromHeight) + " to " +
                                std::to_string(c.width) + "x" + std::to_string(c.height) + (smooth ? " smooth" : ""));
    }
  }
  // Sizes drawn at random, each shrunk in width.
  std::uniform_int_distribution<unsigned> side(2, 700);
  for (int i = 0; i < 60; ++i) {
    const unsigned fromWidth = side(random), fromHeight = side(random);
    const unsigned width = std::uniform_int_distribution<unsigned>(1, fromWidth - 1)(random);
    const unsigned height = std::uniform_int_distribution<unsigned>(1, 2 * fromHeight)(random);
    const FreeImageBitmap picture(Picture(fromWidth, fromHeight, random, i % 2 == 1));
    ExpectSameAsFreeImage(picture.get(), width, height,
                          std::to_string(fromWidth) + "x" + std::to_string(fromHeight) + " to " +
                              std::to_string(width) + "x" + std::to_string(height));
  }
}

}  // namespace
}  // namespace torvo::upload
