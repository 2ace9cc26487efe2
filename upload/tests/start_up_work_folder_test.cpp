// The whole start-up without a desktop: the folder list stood in for, the picture a fixed one,
// the work folder under a temporary HOME.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/fixed_capture_provider.h"
#include "upload/start_up.h"
#include "upload/tests/start_up_fakes.h"
#include "platform/codepage.h"

namespace torvo::upload {
namespace {

namespace fs = std::filesystem;

TEST(PrepareStartUp, ASignedInStartUpLeavesTheThumbnailAndTheFoldersForTheWindow) {
  char pattern[] = "/tmp/torvo-startup-XXXXXX";
  const fs::path home = mkdtemp(pattern);
  const char* old = std::getenv("HOME");
  const std::string oldHome = old ? old : "";
  setenv("HOME", home.c_str(), 1);

  StartUpFakes fakes;
  fakes.reply = Answer(200, "up.example:81|\xB1\xE2\xC5\xB8^7|Second^-2");  // "기타" in code page 949
  auto picture = gdi::Bitmap::Create(640, 480, 24);
  FixedCaptureProvider capture(*picture);
  Preparation p = PrepareStartUp(u"abc;^;http://example.com/;^;t;^;n", capture, fakes.Services());

  EXPECT_FALSE(p.stopped) << ToUtf8(p.message);
  EXPECT_TRUE(p.instance);
  EXPECT_TRUE(p.Inet1);
  EXPECT_EQ(capture.captures(), 1);
  EXPECT_EQ(p.folders.target, u"up.example:81");
  ASSERT_EQ(p.folders.folders.size(), 2u);
  EXPECT_EQ(p.folders.folders[0], (FolderEntry{u"기타", 7}));
  EXPECT_EQ(p.folders.folders[1], (FolderEntry{u"Second", -2}));
  EXPECT_EQ(p.OutputDir, home / "Torvo");
  ASSERT_TRUE(p.thumbnail);
  ASSERT_TRUE(p.picImage);
  EXPECT_GT(p.thumbnail->cDibImage.Width(), 0);
  EXPECT_TRUE(fs::is_regular_file(home / "Torvo" / "img.png"));
  for (const char* work : {"img1.bmp", "img2.bmp", "img3.bmp"}) EXPECT_FALSE(fs::exists(home / "Torvo" / work)) << work;

  setenv("HOME", oldHome.c_str(), 1);
  fs::remove_all(home);
}

}  // namespace
}  // namespace torvo::upload
