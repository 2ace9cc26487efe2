// The one picture reader and writer: what it refuses before FreeImage reads any pixel, and what
// it writes.
#include "platform/picture_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "platform/tests/temp_folder.h"

namespace torvo {
namespace {

namespace fs = std::filesystem;

class PictureFileTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = testing::MakeTempFolder("torvo-picture-"); }
  void TearDown() override { fs::remove_all(folder_); }
  std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Write(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
  std::unique_ptr<gdi::Bitmap> Pattern(int32_t bits) {
    auto b = gdi::Bitmap::Create(7, 5, bits);
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 7; ++x)
        for (int c = 0; c < 3; ++c) b->TopDownRow(y)[x * b->bytesPerPixel() + c] = static_cast<uint8_t>(30 * x + 7 * y + c);
    return b;
  }
  fs::path folder_;
};

TEST_F(PictureFileTest, WritesAndReadsBackBothFormats) {
  for (int32_t bits : {24, 32}) {
    for (PictureFormat format : {PictureFormat::kBmp, PictureFormat::kPng}) {
      const fs::path file = folder_ / (format == PictureFormat::kPng ? "p.png" : "p.bmp");
      Write(file, "an old file, longer than the picture that replaces it" + std::string(5000, 'x'));
      auto source = Pattern(bits);
      WritePicture(*source, file, format, bits == 24 ? Replacing::kWhole : Replacing::kInPlace);
      const std::string bytes = Bytes(file);
      EXPECT_EQ(bytes.substr(0, format == PictureFormat::kPng ? 4 : 2), format == PictureFormat::kPng ? "\x89PNG" : "BM");
      auto back = ReadPicture(file);
      ASSERT_TRUE(back);
      ASSERT_EQ(back->width(), 7);
      ASSERT_EQ(back->height(), 5);
      EXPECT_EQ(back->bitsPerPixel(), 24);
      for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 7; ++x)
          for (int c = 0; c < 3; ++c)
            ASSERT_EQ(back->TopDownRow(y)[x * 3 + c], source->TopDownRow(y)[x * source->bytesPerPixel() + c]) << bits;
    }
  }
  // Nothing but the two pictures is left: no temporary file.
  int entries = 0;
  for (const auto& e : fs::directory_iterator(folder_)) entries += e.is_regular_file();
  EXPECT_EQ(entries, 2);
}

TEST_F(PictureFileTest, RefusesWhatIsNoPictureOrLiesAboutItsSize) {
  WritePicture(*Pattern(24), folder_ / "good.bmp", PictureFormat::kBmp);
  const std::string good = Bytes(folder_ / "good.bmp");
  std::string huge = good;
  const int32_t side = 1 << 30;
  std::memcpy(&huge[18], &side, 4);
  std::memcpy(&huge[22], &side, 4);
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> make;
    std::string reason;
  };
  const Case cases[] = {
      {"missing.bmp", [](const fs::path&) {}, "no such file"},
      {"folder.bmp", [](const fs::path& p) { fs::create_directory(p); }, "it is a folder"},
      {"text.bmp", [&](const fs::path& p) { Write(p, "not a picture"); }, "not a BMP or PNG picture"},
      {"cut.bmp", [&](const fs::path& p) { Write(p, good.substr(0, 60)); }, "the file is cut short"},
      {"huge.bmp", [&](const fs::path& p) { Write(p, huge); }, "the file is cut short"},
  };
  for (const auto& c : cases) {
    const fs::path file = folder_ / c.name;
    c.make(file);
    try {
      ReadPicture(file);
      ADD_FAILURE() << c.name << " was read";
    } catch (const PictureFileError& e) {
      EXPECT_EQ(std::string(e.what()), c.reason) << c.name;
    }
  }
}

TEST_F(PictureFileTest, AFailedWriteLeavesNothingBehind) {
  fs::create_directory(folder_ / "taken.png");
  EXPECT_THROW(WritePicture(*Pattern(24), folder_ / "taken.png", PictureFormat::kPng), PictureFileError);
  EXPECT_THROW(WritePicture(*Pattern(24), folder_ / "no" / "such.bmp", PictureFormat::kBmp), PictureFileError);
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder_)) ++entries;
  EXPECT_EQ(entries, 1);  // the folder in the way, and nothing else
  EXPECT_TRUE(fs::is_directory(folder_ / "taken.png"));
}

}  // namespace
}  // namespace torvo
