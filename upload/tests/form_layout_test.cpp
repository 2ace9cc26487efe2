// The upload window's layout as both views place it: the twips land on the same pixels, the
// thumbnail's column and the window's size follow the thumbnail, and the folder list starts with
// the default folder.
#include "upload/form_layout.h"

#include <gtest/gtest.h>

namespace torvo::upload {
namespace {

TEST(FormLayout, ControlsLandOnThePixelsOfTheirTwips) {
  const FormControls& at = FormControlPlaces();
  struct Case {
    const char* what;
    FormRect got;
    FormRect expected;
  };
  // 15 twips a pixel, half a pixel rounded up (495 twips are 33 pixels, 2230 are 148.67 -> 149).
  const Case cases[] = {
      {"주소", at.Label2, {8, 10, 33, 17}},
      {"address", at.Text_URL, {40, 8, 265, 18}},
      {"note", at.Text_Note, {40, 56, 265, 89}},
      {"보안", at.Check_secu, {8, 149, 49, 25}},
      {"폴더", at.Label_folder, {64, 155, 25, 17}},
      {"folders", at.Combo_folder, {96, 152, 113, 20}},
      {"저장", at.Command1, {224, 152, 81, 25}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

TEST(FormLayout, TheThumbnailIsCentredInItsColumnAndTheWindowGrowsForATallOne) {
  struct Case {
    int width, height;
    ThumbnailPlace expected;
  };
  // The layout's client area is 312 x 186 pixels; the column of 200 starts 4 pixels right of it.
  const Case cases[] = {
      {0, 0, {{416, 8, 0, 0}, 520, 186}},
      {200, 150, {{316, 8, 200, 150}, 520, 186}},
      {100, 50, {{366, 8, 100, 50}, 520, 186}},
      {160, 170, {{336, 8, 160, 170}, 520, 186}},  // just fits: 8 + 170 + 8
      {160, 171, {{336, 8, 160, 171}, 520, 187}},
      {120, 300, {{356, 8, 120, 300}, 520, 316}},
  };
  for (const Case& c : cases) {
    const ThumbnailPlace got = PlaceThumbnail(c.width, c.height);
    EXPECT_EQ(got.picImage, c.expected.picImage) << c.width << "x" << c.height;
    EXPECT_EQ(got.clientWidth, c.expected.clientWidth) << c.width << "x" << c.height;
    EXPECT_EQ(got.clientHeight, c.expected.clientHeight) << c.width << "x" << c.height;
  }
}

TEST(FormLayout, TheFolderListStartsWithTheDefaultFolder) {
  FolderReply reply;
  reply.kind = FolderReply::Kind::kFolders;
  EXPECT_EQ(FolderChoices(reply), (std::vector<FolderEntry>{{u"기본", 0}}));
  reply.folders = {{u"여행", 12}, {u"", -3}, {u"기본", 5}};
  EXPECT_EQ(FolderChoices(reply), (std::vector<FolderEntry>{{u"기본", 0}, {u"여행", 12}, {u"", -3}, {u"기본", 5}}));
}

}  // namespace
}  // namespace torvo::upload
