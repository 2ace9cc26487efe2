#include "upload/thumbnail_pipeline.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "platform/error.h"
#include "platform/freeimage_io.h"
#include "platform/tests/temp_folder.h"
#include "upload/ScreenCapMain.h"
#include "upload/picture_file.h"

namespace torvo::upload {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() : path(torvo::testing::MakeTempFolder("torvo-pipeline-")) {}
  ~TempFolder() { fs::remove_all(path); }
  fs::path path;
};

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// A picture with smooth areas and hard edges, so that sharpening shows.
std::unique_ptr<gdi::Bitmap> Pattern(int32_t width, int32_t height, int32_t bitsPerPixel = 24) {
  auto b = gdi::Bitmap::Create(width, height, bitsPerPixel);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = b->TopDownRow(y);
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = row + x * b->bytesPerPixel();
      bool stripe = (x / 37 + y / 23) % 2 == 0;
      p[0] = static_cast<uint8_t>(stripe ? 230 : 20);
      p[1] = static_cast<uint8_t>((x * 255) / width);
      p[2] = static_cast<uint8_t>((y * 255) / height);
      if (bitsPerPixel == 32) p[3] = 0x5A;
    }
  }
  return b;
}

struct Rgb24 {
  int width = 0, height = 0;
  std::vector<uint8_t> bytes;  // top-down rows, 3 bytes a pixel, blue first
  const uint8_t* At(int x, int y) const { return &bytes[(static_cast<size_t>(y) * width + x) * 3]; }
  bool operator==(const Rgb24&) const = default;
};

Rgb24 FromDib(FIBITMAP* dib) {
  FIBITMAP* dib24 = FreeImage_ConvertTo24Bits(dib);
  Rgb24 image{static_cast<int>(FreeImage_GetWidth(dib24)), static_cast<int>(FreeImage_GetHeight(dib24)), {}};
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* row = FreeImage_GetScanLine(dib24, image.height - 1 - y);
    image.bytes.insert(image.bytes.end(), row, row + image.width * 3);
  }
  FreeImage_Unload(dib24);
  return image;
}

Rgb24 LoadImage(const fs::path& file, FREE_IMAGE_FORMAT format) {
  FIBITMAP* dib = LoadPictureFile(format, file, 0);
  EXPECT_NE(dib, nullptr) << file;
  if (!dib) return {};
  Rgb24 image = FromDib(dib);
  FreeImage_Unload(dib);
  return image;
}

// What the upload should look like: the box-filtered scale of the capture, then every interior
// pixel sharpened with centre 15, neighbours -1, divided by 7 toward zero and clamped.
Rgb24 Expected(const fs::path& capture, int width, int height) {
  FIBITMAP* loaded = LoadPictureFile(FIF_BMP, capture, 0);
  FIBITMAP* scaled = FreeImage_Rescale(loaded, width, height, FILTER_BOX);
  Rgb24 in = FromDib(scaled);
  FreeImage_Unload(scaled);
  FreeImage_Unload(loaded);
  Rgb24 out = in;
  for (int y = 1; y < height - 1; ++y) {
    for (int x = 1; x < width - 1; ++x) {
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int j = -1; j <= 1; ++j)
          for (int i = -1; i <= 1; ++i) sum += in.At(x + i, y + j)[c] * (i == 0 && j == 0 ? 15 : -1);
        out.bytes[(static_cast<size_t>(y) * width + x) * 3 + c] = static_cast<uint8_t>(std::clamp(sum / 7, 0, 255));
      }
    }
  }
  return out;
}

TEST(ThumbnailPipeline, MakesTheSharpenedPngAndRemovesTheWorkFiles) {
  TempFolder temp;
  const fs::path dir = temp.path / "Torvo";
  fs::create_directory(dir);
  SavePicture(*Pattern(1000, 700), dir / "img1.bmp");
  { std::ofstream(dir / "img2.bmp") << "an old work file"; }
  const Rgb24 expected = Expected(dir / "img1.bmp", 200, 140);

  Canvas picImage;
  ThumbnailState state;
  MakeThumbnail(dir, picImage, state);

  EXPECT_EQ(Names(dir), (std::set<std::string>{"img.png"}));
  EXPECT_EQ(state.OutputWidth, 1000);
  EXPECT_EQ(state.OutputHeight, 700);
  const Rgb24 png = LoadImage(dir / "img.png", FIF_PNG);
  ASSERT_EQ(png.width, 200);
  ASSERT_EQ(png.height, 140);
  EXPECT_TRUE(png == expected);

  // The thumbnail surface holds the same picture, and the canvas was left cleared at its size.
  ASSERT_EQ(state.cDibImage.Width(), 200);
  ASSERT_EQ(state.cDibImage.Height(), 140);
  int differences = 0;
  for (int y = 0; y < 140; ++y) {
    const uint8_t* row = state.cDibImage.DIBSectionBitsPtr() + (139 - y) * state.cDibImage.BytesPerScanLine();
    for (int x = 0; x < 200 * 3; ++x) differences += row[x] != png.At(0, y)[x];
  }
  EXPECT_EQ(differences, 0);
  EXPECT_EQ(picImage.width(), 200);
  EXPECT_EQ(picImage.height(), 140);
  const uint8_t* cleared = picImage.Image()->TopDownRow(70) + 100 * 4;
  EXPECT_EQ(cleared[0] | cleared[1] << 8 | cleared[2] << 16, 0xF0F0F0);
}

TEST(ThumbnailPipeline, SharpeningChangesTheScaledPicture) {
  TempFolder temp;
  SavePicture(*Pattern(640, 480), temp.path / "img1.bmp");
  FIBITMAP* loaded = LoadPictureFile(FIF_BMP, (temp.path / "img1.bmp"), 0);
  FIBITMAP* scaled = FreeImage_Rescale(loaded, 200, 150, FILTER_BOX);
  const Rgb24 merelyScaled = FromDib(scaled);
  FreeImage_Unload(scaled);
  FreeImage_Unload(loaded);
  Canvas picImage;
  ThumbnailState state;
  MakeThumbnail(temp.path, picImage, state);
  const Rgb24 png = LoadImage(temp.path / "img.png", FIF_PNG);
  ASSERT_EQ(png.bytes.size(), merelyScaled.bytes.size());
  size_t changed = 0;
  for (size_t i = 0; i < png.bytes.size(); ++i) changed += png.bytes[i] != merelyScaled.bytes[i];
  EXPECT_GT(changed, png.bytes.size() / 20);
  // The one-pixel frame keeps the scaled pixels.
  EXPECT_EQ(std::vector<uint8_t>(png.At(0, 0), png.At(0, 1)), std::vector<uint8_t>(merelyScaled.At(0, 0), merelyScaled.At(0, 1)));
}

TEST(ThumbnailPipeline, SizesAndNamesWithoutRegardToCase) {
  struct Case {
    int w, h;
    int thumbW, thumbH;
  };
  for (const Case& c : {Case{100, 50, 200, 100}, Case{800, 1000, 128, 160}, Case{1000, 2, 200, 1}, Case{1, 900, 1, 160},
                        Case{2, 2, 160, 160}}) {
    TempFolder temp;
    SavePicture(*Pattern(c.w, c.h, 32), temp.path / "IMG1.BMP");
    { std::ofstream(temp.path / "Img.Png") << "the last start's thumbnail"; }
    Canvas picImage;
    ThumbnailState state;
    MakeThumbnail(temp.path, picImage, state);
    EXPECT_EQ(Names(temp.path), (std::set<std::string>{"Img.Png"})) << c.w << "x" << c.h;
    const Rgb24 png = LoadImage(temp.path / "Img.Png", FIF_PNG);
    EXPECT_EQ(png.width, c.thumbW);
    EXPECT_EQ(png.height, c.thumbH);
  }
}

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ThumbnailPipeline, TheCaptureInMemoryGivesTheSameFilesAsItsReadBack) {
  struct Case {
    int w, h, bits;
  };
  for (const Case& c : {Case{1000, 700, 24}, Case{1001, 333, 24}, Case{2, 2, 24}, Case{1000, 2, 24}, Case{1, 900, 24},
                        Case{640, 480, 32}}) {
    TempFolder read, inMemory;
    SavePicture(*Pattern(c.w, c.h, c.bits), read.path / "img1.bmp");
    Canvas picImage, picImage2;
    ThumbnailState state, state2;
    MakeThumbnail(read.path, picImage, state);
    {
      ScreenCapMain::CaptureInWorkFolder capture(inMemory.path / "img1.bmp", Pattern(c.w, c.h, c.bits));
      MakeThumbnail(inMemory.path, picImage2, state2, capture);
      EXPECT_EQ(capture.picture(), nullptr) << "the picture is let go once written";
    }
    const std::string where = std::to_string(c.w) + "x" + std::to_string(c.h) + "x" + std::to_string(c.bits);
    EXPECT_EQ(Names(inMemory.path), (std::set<std::string>{"img.png"})) << where;
    const std::string png = Bytes(read.path / "img.png");
    ASSERT_FALSE(png.empty()) << where;
    EXPECT_TRUE(png == Bytes(inMemory.path / "img.png")) << where;
    EXPECT_EQ(state2.OutputWidth, c.w);
    EXPECT_EQ(state2.OutputHeight, c.h);
  }
}

TEST(ThumbnailPipeline, ACaptureThatCannotBeWrittenStopsWithItsFileAndLeavesNothing) {
  TempFolder temp;
  // A folder in the way of the file: the scaled picture can still be written, so the capture's
  // error must be the one told.
  fs::create_directory(temp.path / "img1.bmp");
  Canvas picImage;
  ThumbnailState state;
  try {
    ScreenCapMain::CaptureInWorkFolder capture(temp.path / "img1.bmp", Pattern(400, 300));
    MakeThumbnail(temp.path, picImage, state, capture);
    ADD_FAILURE() << "no error";
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), 75);
    EXPECT_EQ(e.description().rfind("그림 파일을 쓸 수 없습니다: " + (temp.path / "img1.bmp").string(), 0), 0u)
        << e.description();
  }
  EXPECT_EQ(Names(temp.path), (std::set<std::string>{"img1.bmp"}));
  EXPECT_TRUE(fs::is_directory(temp.path / "img1.bmp"));
}

TEST(ThumbnailPipeline, FailuresNameTheFileAndLeaveNoWorkFiles) {
  auto expectError = [](const fs::path& dir, int32_t number, const std::string& message) {
    Canvas picImage;
    ThumbnailState state;
    try {
      MakeThumbnail(dir, picImage, state);
      ADD_FAILURE() << "no error for " << message;
    } catch (const TorvoError& e) {
      EXPECT_EQ(e.number(), number);
      EXPECT_EQ(e.description().rfind(message, 0), 0u) << e.description();
    }
  };
  TempFolder temp;
  // No capture.
  expectError(temp.path, 53, "작업 파일을 읽을 수 없습니다: " + (temp.path / "img1.bmp").string());
  // A capture that is no bitmap.
  { std::ofstream(temp.path / "img1.bmp") << "not a picture"; }
  expectError(temp.path, 53, "작업 파일을 읽을 수 없습니다: " + (temp.path / "img1.bmp").string());
  EXPECT_TRUE(Names(temp.path).empty());
  // A capture shorter than its header says: refused, not read past its end.
  SavePicture(*Pattern(300, 200), temp.path / "img1.bmp");
  fs::resize_file(temp.path / "img1.bmp", 5000);
  expectError(temp.path, 53, "작업 파일을 읽을 수 없습니다: " + (temp.path / "img1.bmp").string() + " (the file is cut short)");
  EXPECT_TRUE(Names(temp.path).empty());
  // A work file that cannot be written.
  SavePicture(*Pattern(300, 200), temp.path / "img1.bmp");
  fs::create_directory(temp.path / "img2.bmp");
  expectError(temp.path, 75, "작업 파일을 쓸 수 없습니다: " + (temp.path / "img2.bmp").string());
  EXPECT_EQ(Names(temp.path), (std::set<std::string>{"img2.bmp"}));  // the folder in the way stays
  fs::remove(temp.path / "img2.bmp");
  // A PNG that cannot be written.
  SavePicture(*Pattern(300, 200), temp.path / "img1.bmp");
  fs::create_directory(temp.path / "img.png");
  expectError(temp.path, 75, "작업 파일을 쓸 수 없습니다: " + (temp.path / "img.png").string());
  EXPECT_EQ(Names(temp.path), (std::set<std::string>{"img.png"}));
  // A work folder that cannot be made.
  { std::ofstream(temp.path / "file") << "x"; }
  expectError(temp.path / "file" / "Torvo", 75, "작업 폴더를 만들 수 없습니다: " + (temp.path / "file" / "Torvo").string());
}

TEST(DirExists, AnswersWithoutFailing) {
  TempFolder temp;
  { std::ofstream(temp.path / "file") << "x"; }
  EXPECT_TRUE(DirExists(temp.path));
  EXPECT_FALSE(DirExists(temp.path / "missing"));
  EXPECT_FALSE(DirExists(temp.path / "file"));
  EXPECT_FALSE(DirExists(temp.path / "file" / "below"));
  EXPECT_FALSE(DirExists(""));
}

TEST(PictureFile, SavesTwentyFourBitsAndLoadsThemBack) {
  TempFolder temp;
  auto source = Pattern(37, 11, 32);
  SavePicture(*source, temp.path / "p.bmp");
  FIBITMAP* raw = LoadPictureFile(FIF_BMP, (temp.path / "p.bmp"), 0);
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(FreeImage_GetBPP(raw), 24u);
  FreeImage_Unload(raw);
  gdi::Picture picture = LoadPicture(temp.path / "p.bmp");
  ASSERT_NE(picture.Handle(), nullptr);
  const gdi::Bitmap& loaded = *picture.Handle();
  ASSERT_EQ(loaded.width(), 37);
  ASSERT_EQ(loaded.height(), 11);
  EXPECT_EQ(loaded.bitsPerPixel(), 24);
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 37; ++x)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(loaded.TopDownRow(y)[x * 3 + c], source->TopDownRow(y)[x * 4 + c]);

  try {
    LoadPicture(temp.path / "missing.bmp");
    ADD_FAILURE();
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), 53);
    EXPECT_NE(e.description().find((temp.path / "missing.bmp").string()), std::string::npos);
  }
  EXPECT_THROW(SavePicture(*source, temp.path / "no" / "such" / "p.bmp"), TorvoError);
}

}  // namespace
}  // namespace torvo::upload

namespace torvo::upload {
namespace {

TEST(KeepThumbnail, ReplacesTheStoredNameInAnyCase) {
  struct Case {
    std::vector<std::string> before;
    std::set<std::string> after;
  };
  const Case cases[] = {
      {{"img.png"}, {"20091201123456.png"}},
      {{"IMG.PNG", "other.png"}, {"20091201123456.png", "other.png"}},
      {{"img.png", "20091201123456.png"}, {"20091201123456.png"}},
      {{"img.png", "20091201123456.PNG"}, {"20091201123456.png"}},
  };
  for (const auto& c : cases) {
    TempFolder temp;
    for (const auto& name : c.before) std::ofstream(temp.path / name) << (name == "img.png" || name == "IMG.PNG" ? "new" : "old");
    KeepThumbnail(temp.path, u"20091201123456.png");
    EXPECT_EQ(Names(temp.path), c.after);
    std::ifstream kept(temp.path / "20091201123456.png");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "new");
  }
  TempFolder empty;
  try {
    KeepThumbnail(empty.path, u"20091201123456.png");
    ADD_FAILURE() << "no error without img.png";
  } catch (const TorvoError& e) {
    EXPECT_EQ(e.number(), kErrPathFileAccess);
    EXPECT_NE(e.description().find((empty.path / "20091201123456.png").string()), std::string::npos) << e.description();
  }
}

}  // namespace
}  // namespace torvo::upload
