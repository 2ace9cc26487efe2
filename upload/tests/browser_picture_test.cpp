// The browser's picture as TorvoTool receives it: the descriptor the host names, read only when
// it is a sealed memory file, and the PNG turned into the 24-bit capture; anything else is a
// message for the user, and the work folder gets nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/desktop/picture_handover.h"
#include "platform/error.h"
#include "platform/picture_handover.h"
#include "platform/tests/png_for_tests.h"
#include "upload/ScreenCapMain.h"
#include "upload/browser_picture_capture.h"
#include "upload/picture_file.h"

namespace torvo::upload {
namespace {

namespace fs = std::filesystem;

int MemoryFile(const std::string& bytes, bool sealed) {
  int fd = ::memfd_create("test-picture", MFD_ALLOW_SEALING);
  EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  if (sealed) {
    EXPECT_EQ(::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE), 0);
  }
  return fd;
}

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

// How many of this process's mappings are of the test's memory files.
int MappingsOfTestPictures() {
  std::ifstream maps("/proc/self/maps");
  int count = 0;
  for (std::string line; std::getline(maps, line);) count += line.find("memfd:test-picture") != std::string::npos;
  return count;
}

desktop::HandedOverPicture TakeWithVariable(const std::string& value) {
  ::setenv(kPictureDescriptorVariable, value.c_str(), 1);
  desktop::HandedOverPicture picture = desktop::TakeHandedOverPicture();
  EXPECT_EQ(std::getenv(kPictureDescriptorVariable), nullptr) << "the variable must not reach programs started later";
  return picture;
}

TEST(TakeHandedOverPicture, ReadsOnlyASealedMemoryFileAndClosesIt) {
  ::unsetenv(kPictureDescriptorVariable);
  EXPECT_FALSE(desktop::TakeHandedOverPicture().handedOver);

  const std::string png = testing::SolidPng(3, 3, 9, 8, 7);
  int sealed = MemoryFile(png, true);
  auto taken = TakeWithVariable(std::to_string(sealed));
  EXPECT_TRUE(taken.handedOver);
  EXPECT_EQ(taken.problem, "");
  EXPECT_EQ(taken.png, png);
  EXPECT_FALSE(IsOpen(sealed)) << "the descriptor stays open";
  // Read where it is, the memory file stays mapped while the picture is held, and no longer.
  EXPECT_EQ(MappingsOfTestPictures(), 1);
  desktop::HandedOverPicture moved = std::move(taken);
  EXPECT_EQ(moved.png, png);
  moved.png.clear();
  EXPECT_TRUE(moved.png.empty());
  EXPECT_EQ(MappingsOfTestPictures(), 0) << "the picture's memory stays held";

  int unsealed = MemoryFile(png, false);
  int pipes[2];
  ASSERT_EQ(::pipe(pipes), 0);
  int empty = MemoryFile("", true);
  struct Case {
    std::string value;
    std::string problem;
  };
  const Case cases[] = {
      {std::to_string(unsealed), "넘겨 받은 메모리 파일이 봉인되어 있지 않습니다"},
      {std::to_string(pipes[0]), "넘겨 받은 것이 메모리 파일이 아닙니다"},
      {std::to_string(empty), "그림이 비어 있습니다"},
      {"", "파일 설명자 번호가 올바르지 않습니다"},
      {"3x", "파일 설명자 번호가 올바르지 않습니다"},
      {"-4", "파일 설명자 번호가 올바르지 않습니다"},
      {"0", "파일 설명자 번호가 올바르지 않습니다"},
      {"99999999999", "파일 설명자 번호가 올바르지 않습니다"},
      {"987654", "넘겨 받은 파일 설명자를 읽을 수 없습니다 (Bad file descriptor)"},
  };
  for (const auto& c : cases) {
    auto picture = TakeWithVariable(c.value);
    EXPECT_TRUE(picture.handedOver) << c.value;
    EXPECT_EQ(picture.problem, c.problem) << c.value;
    EXPECT_TRUE(picture.png.empty()) << c.value;
  }
  EXPECT_FALSE(IsOpen(unsealed));
  ::close(pipes[1]);
}

class BrowserPictureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/torvo-browser-picture-XXXXXX";
    home_ = ::mkdtemp(pattern);
    const char* old = std::getenv("HOME");
    oldHome_ = old ? old : "";
    ::setenv("HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    ::setenv("HOME", oldHome_.c_str(), 1);
    fs::remove_all(home_);
  }
  static desktop::HandedOverPicture Handed(std::string png) {
    desktop::HandedOverPicture picture;
    picture.handedOver = true;
    picture.png = std::move(png);
    return picture;
  }
  fs::path home_;
  std::string oldHome_;
};

TEST_F(BrowserPictureTest, ThePngBecomesTheCaptureInTheSame24BitForm) {
  // 4 x 2 pixels, each its own colour; once as RGB, once with an alpha channel, which is dropped.
  std::string rgb, rgba;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      const char r = char(10 + x), g = char(100 + y), b = char(200 + x + y);
      rgb += {r, g, b};
      rgba += {r, g, b, char(x == 0 ? 255 : 60)};
    }
  // Decoded when asked for, or started on a thread of its own beforehand as TorvoTool does.
  for (bool early : {false, true})
  for (const std::string& png : {testing::Png(4, 2, rgb), testing::Png(4, 2, rgba, 6)}) {
    SCOPED_TRACE(early ? "decoding started early" : "decoded when asked for");
    BrowserPictureCaptureProvider provider(Handed(png));
    if (early) provider.StartDecoding();
    ScreenCapMain::StartCaptureToWorkFolder(provider).Written();
    gdi::Picture saved = LoadPicture(home_ / "Torvo" / "img1.bmp");
    ASSERT_TRUE(saved.Handle());
    const gdi::Bitmap& b = *saved.Handle();
    ASSERT_EQ(b.width(), 4);
    ASSERT_EQ(b.height(), 2);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 4; ++x) {
        const uint8_t* p = b.TopDownRow(y) + x * 3;
        EXPECT_EQ(p[2], 10 + x);
        EXPECT_EQ(p[1], 100 + y);
        EXPECT_EQ(p[0], 200 + x + y);
      }
  }
}

TEST_F(BrowserPictureTest, APictureItCannotReadIsAClearMessageAndLeavesNothing) {
  const std::string png = testing::SolidPng(8, 8, 1, 2, 3);
  std::string cutShort = png.substr(0, png.size() - 20);
  std::string wide = png;
  // A header that promises 16385 pixels a side, its CRC made right again.
  wide.replace(16, 4, testing::BigEndian(16385));
  wide.replace(29, 4, testing::BigEndian(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(wide.data() + 12), 17))));
  // A header that promises 3000 x 2000 pixels over the pixels of 8 x 8.
  std::string lying = png;
  lying.replace(16, 8, testing::BigEndian(3000) + testing::BigEndian(2000));
  lying.replace(29, 4, testing::BigEndian(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(lying.data() + 12), 17))));
  desktop::HandedOverPicture unreadable;
  unreadable.handedOver = true;
  unreadable.problem = "넘겨 받은 메모리 파일이 봉인되어 있지 않습니다";
  struct Case {
    desktop::HandedOverPicture picture;
    std::string message;
  };
  const std::string kCannot = "브라우저가 넘겨 준 페이지 그림을 읽을 수 없습니다: ";
  const Case cases[] = {
      {unreadable, kCannot + "넘겨 받은 메모리 파일이 봉인되어 있지 않습니다."},
      {Handed("GIF89a not a png"), kCannot + "PNG 그림이 아니거나 손상되었습니다."},
      {Handed(cutShort), kCannot + "PNG 그림이 아니거나 손상되었습니다."},
      {Handed(wide), kCannot + "PNG 그림이 아니거나 손상되었습니다."},
      {Handed(lying), kCannot + "PNG 그림이 아니거나 손상되었습니다."},
      {Handed(""), kCannot + "PNG 그림이 아니거나 손상되었습니다."},
  };
  for (bool early : {false, true})
  for (const auto& c : cases) {
    SCOPED_TRACE(early ? "decoding started early" : "decoded when asked for");
    BrowserPictureCaptureProvider provider(c.picture);
    if (early) provider.StartDecoding();
    try {
      ScreenCapMain::StartCaptureToWorkFolder(provider).Written();
      ADD_FAILURE() << c.message;
    } catch (const TorvoError& e) {
      EXPECT_EQ(e.number(), kErrFileNotFound);
      EXPECT_EQ(e.description(), c.message);
    }
    EXPECT_TRUE(fs::is_empty(home_ / "Torvo")) << c.message;
  }
}

}  // namespace
}  // namespace torvo::upload
