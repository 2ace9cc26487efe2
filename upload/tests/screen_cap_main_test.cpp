// The capture step without a screen: whatever the source hands out lands in the work folder as
// "img1.bmp", and a source that has nothing stops the start-up with its own message.
#include "upload/ScreenCapMain.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/error.h"
#include "platform/fixed_capture_provider.h"
#include "upload/picture_file.h"

namespace torvo::upload {
namespace {

namespace fs = std::filesystem;

class CaptureToWorkFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/torvo-capture-XXXXXX";
    home_ = mkdtemp(pattern);
    const char* old = std::getenv("HOME");
    oldHome_ = old ? old : "";
    setenv("HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    setenv("HOME", oldHome_.c_str(), 1);
    fs::remove_all(home_);
  }
  fs::path home_;
  std::string oldHome_;
};

TEST_F(CaptureToWorkFolderTest, TheProvidersPictureBecomesImg1Bmp) {
  // 32 bits in, 24 bits out, every pixel in its place.
  for (int32_t bits : {24, 32}) {
    auto picture = gdi::Bitmap::Create(5, 3, bits);
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < 5; ++x)
        for (int c = 0; c < 3; ++c) picture->TopDownRow(y)[x * picture->bytesPerPixel() + c] = static_cast<uint8_t>(10 * x + 50 * y + c);
    FixedCaptureProvider provider(*picture);
    fs::create_directories(home_ / "Torvo");
    {
      std::FILE* old = std::fopen((home_ / "Torvo" / "IMG1.BMP").c_str(), "w");  // an old capture, any case
      std::fputs("old", old);
      std::fclose(old);
    }
    ScreenCapMain::StartCaptureToWorkFolder(provider).Written();
    EXPECT_EQ(provider.captures(), 1);
    gdi::Picture saved = LoadPicture(home_ / "Torvo" / "IMG1.BMP");
    ASSERT_TRUE(saved.Handle()) << bits;
    const gdi::Bitmap& b = *saved.Handle();
    ASSERT_EQ(b.width(), 5);
    ASSERT_EQ(b.height(), 3);
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < 5; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(b.TopDownRow(y)[x * 3 + c], 10 * x + 50 * y + c) << bits << " " << x << "," << y;
    fs::remove_all(home_ / "Torvo");
  }
}

TEST_F(CaptureToWorkFolderTest, ASourceWithoutAPictureStopsWithItsMessage) {
  FixedCaptureProvider provider(TorvoError(53, "TorvoTool", "브라우저가 그림을 주지 않았습니다."));
  try {
    ScreenCapMain::StartCaptureToWorkFolder(provider).Written();
    ADD_FAILURE() << "no error";
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), 53);
    EXPECT_EQ(e.description(), "브라우저가 그림을 주지 않았습니다.");
  }
  EXPECT_FALSE(fs::exists(home_ / "Torvo" / "img1.bmp"));
}

TEST_F(CaptureToWorkFolderTest, ASideBeyondSixteenBitsOverflows) {
  auto wide = gdi::Bitmap::Create(32768, 1, 24);
  FixedCaptureProvider provider(*wide);
  try {
    ScreenCapMain::StartCaptureToWorkFolder(provider).Written();
    ADD_FAILURE() << "no error";
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), kErrOverflow);
  }
  EXPECT_FALSE(fs::exists(home_ / "Torvo" / "img1.bmp"));
}

}  // namespace
}  // namespace torvo::upload
