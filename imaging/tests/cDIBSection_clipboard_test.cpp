#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <set>

#include "imaging/cDIBSection.h"
#include "platform/desktop_services.h"
#include "imaging/random_fill.h"
#include "imaging/tests/colour_test_support.h"
#include "platform/random.h"

namespace torvo {
namespace {

using namespace colour_test;

// A desktop that records what the surface asks of it.
class RecordingDesktop : public DesktopServices {
 public:
  const gdi::DeviceContext* ScreenContext() override { return hasScreen ? &screen : nullptr; }
  bool PutBitmapOnClipboard(const gdi::Bitmap& bitmap) override {
    ++offers;
    if (!accepts) return false;
    clipboard = gdi::Bitmap::Create(bitmap.width(), bitmap.height(), bitmap.bitsPerPixel());
    std::copy(bitmap.bits(), bitmap.bits() + static_cast<int64_t>(bitmap.stride()) * bitmap.height(), clipboard->bits());
    return true;
  }
  void ShowMessage(std::u16string_view text) override { messages.emplace_back(text); }

  gdi::DeviceContext screen;
  bool hasScreen = true;
  bool accepts = true;
  int offers = 0;
  std::unique_ptr<gdi::Bitmap> clipboard;
  std::vector<std::u16string> messages;
};

class Clipboard : public ::testing::Test {
 protected:
  void SetUp() override { SetDesktopServices(&desktop); }
  void TearDown() override { SetDesktopServices(nullptr); }
  RecordingDesktop desktop;
};

TEST_F(Clipboard, AsDIBOnlySaysItCannot) {
  auto s = RandomSurface(3, 2, 1);
  EXPECT_FALSE(s->CopyToClipboard());
  EXPECT_EQ(desktop.messages,
            (std::vector<std::u16string>{u"I don't know how to put a DIB on the clipboard! Copy as bitmap instead!!!"}));
  EXPECT_EQ(desktop.offers, 0);
}

TEST_F(Clipboard, AsBitmapPutsTheWholePicture) {
  auto s = RandomSurface(300, 200, 2);
  ASSERT_TRUE(s->CopyToClipboard(false));
  EXPECT_TRUE(desktop.messages.empty());
  ASSERT_NE(desktop.clipboard, nullptr);
  const gdi::Bitmap& bitmap = *desktop.clipboard;
  EXPECT_EQ(bitmap.width(), 300);
  EXPECT_EQ(bitmap.height(), 200);
  // A screen-compatible bitmap: 32 bits a pixel, bottom-up like the surface.
  ASSERT_EQ(bitmap.bitsPerPixel(), 32);
  for (int32_t y : {0, 1, 199}) {
    for (int32_t x : {0, 150, 299}) {
      const uint8_t* p = bitmap.ScanLine(y) + 4 * x;
      EXPECT_EQ((Bgr{p[0], p[1], p[2]}), GetPixel(*s, x, y)) << x << "," << y;
    }
  }
}

TEST_F(Clipboard, FailuresReturnFalseWithoutAMessage) {
  auto s = RandomSurface(4, 4, 3);
  desktop.accepts = false;
  EXPECT_FALSE(s->CopyToClipboard(false));
  EXPECT_EQ(desktop.offers, 1);
  desktop.hasScreen = false;
  EXPECT_FALSE(s->CopyToClipboard(false));
  EXPECT_FALSE(s->CopyToClipboard(true));
  EXPECT_EQ(desktop.offers, 1);
  EXPECT_TRUE(desktop.messages.empty());
  SetDesktopServices(nullptr);
  EXPECT_FALSE(s->CopyToClipboard(false));
}

class RandomFill : public ::testing::Test {
 protected:
  void TearDown() override { SetRandomFillSeed(std::nullopt); }
};

TEST_F(RandomFill, GreyDrawsOncePerPixelScanLineByScanLine) {
  auto s = NewSurface(5, 3);
  SetRandomFillSeed(42);
  s->RandomiseBits(true);
  ReseedUniform(42);
  std::set<int> values;
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x) {
      const int v = static_cast<int>(std::nearbyint(255.0 * NextUniform()));
      ASSERT_EQ(GetPixel(*s, x, y), (Bgr{v, v, v})) << x << "," << y;
      values.insert(v);
    }
  EXPECT_GT(values.size(), 5u);
  for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(PixelAt(*s, 5, y)[0], kPaddingMark);
}

TEST_F(RandomFill, ColourDrawsGreenThenRedColumnByColumn) {
  auto s = NewSurface(1, 4);  // one pixel wide: only the first three bytes of each line change
  SetRandomFillSeed(7);
  s->RandomiseBits();
  ReseedUniform(7);
  for (int32_t y = 0; y < 4; ++y) {
    const int green = static_cast<int>(std::nearbyint(255.0 * NextUniform()));
    const int red = static_cast<int>(std::nearbyint(255.0 * NextUniform()));
    EXPECT_EQ(GetPixel(*s, 0, y), (Bgr{0, green, red})) << y;
    EXPECT_EQ(PixelAt(*s, 0, y)[3], kPaddingMark);
  }

  auto wide = NewSurface(40, 30);
  wide->RandomiseBits(false);
  int differ = 0;
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 40; ++x) {
      const Bgr p = GetPixel(*wide, x, y);
      ASSERT_EQ(p.blue, 0);
      differ += p.green != p.red;
    }
  EXPECT_GT(differ, 1000);
}

TEST_F(RandomFill, SameSeedSameFill) {
  auto a = NewSurface(9, 9), b = NewSurface(9, 9), c = NewSurface(9, 9);
  SetRandomFillSeed(5);
  a->RandomiseBits();
  NextUniform();  // whatever ran in between, the fill reseeds
  b->RandomiseBits();
  SetRandomFillSeed(6);
  c->RandomiseBits();
  EXPECT_EQ(AllBytes(*a), AllBytes(*b));
  EXPECT_NE(AllBytes(*a), AllBytes(*c));
}

}  // namespace
}  // namespace torvo
