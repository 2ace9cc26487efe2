#include "sync/album_folder.h"

#include <gtest/gtest.h>

#include "temp_folder.h"

namespace torvo::sync {
namespace {

using testing::Entries;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

TEST(FileExists, MatchesNamesWithoutRegardToCaseAndOnlyFiles) {
  TempFolder folder;
  WriteFile(folder.path() / "IMG.PNG", "x");
  WriteFile(folder.path() / "exact.png", "x");
  std::filesystem::create_directory(folder.path() / "dir.png");
  struct Case {
    std::string name;
    bool exists;
  } cases[] = {
      {"img.png", true}, {"Img.Png", true}, {"exact.png", true}, {"EXACT.PNG", true},
      {"dir.png", false}, {"other.png", false}, {".png", false},
  };
  for (const Case& c : cases) EXPECT_EQ(FileExists(folder.path() / c.name), c.exists) << c.name;
  EXPECT_FALSE(FileExists(folder.path() / "missing-folder" / "img.png"));
}

TEST(AlbumFolder, OneListingAnswersLikeFileExists) {
  TempFolder folder;
  WriteFile(folder.path() / "IMG.PNG", "x");
  WriteFile(folder.path() / "exact.png", "x");
  std::filesystem::create_directory(folder.path() / "dir.png");
  AlbumFolder album(folder.path());
  for (const char* name : {"img.png", "Img.Png", "exact.png", "EXACT.PNG", "dir.png", "other.png", ".png"})
    EXPECT_EQ(album.FileExists(name), FileExists(folder.path() / name)) << name;

  // Made after the listing: found under its exact name.
  WriteFile(folder.path() / "later.png", "x");
  EXPECT_TRUE(album.FileExists("later.png"));
  album.Added("Mine.png");
  EXPECT_TRUE(album.FileExists("mine.PNG"));
  EXPECT_FALSE(album.FileExists("yours.png"));
}

TEST(DirExists, OnlyFolders) {
  TempFolder folder;
  WriteFile(folder.path() / "file", "x");
  EXPECT_TRUE(DirExists(folder.path()));
  EXPECT_FALSE(DirExists(folder.path() / "file"));
  EXPECT_FALSE(DirExists(folder.path() / "none"));
}

TEST(WriteFileWhole, WritesExactBytesAndLeavesNoTemporaryFile) {
  TempFolder folder;
  const std::string bytes("\x89PNG\r\n\x1A\n\0\xFF", 10);
  ASSERT_FALSE(WriteFileWhole(folder.path() / "a.png", bytes));
  ASSERT_FALSE(WriteFileWhole(folder.path() / "empty.png", ""));
  EXPECT_EQ(ReadFile(folder.path() / "a.png"), bytes);
  EXPECT_EQ(ReadFile(folder.path() / "empty.png"), "");
  EXPECT_EQ(Entries(folder.path()), (std::set<std::string>{"a.png", "empty.png"}));
}

TEST(WriteFileWhole, FailureLeavesNothingBehind) {
  TempFolder folder;
  std::filesystem::create_directory(folder.path() / "taken.png");
  WriteFile(folder.path() / "taken.png" / "inside", "keep");
  std::optional<std::string> error = WriteFileWhole(folder.path() / "taken.png", "bytes");
  ASSERT_TRUE(error);
  EXPECT_FALSE(error->empty());
  EXPECT_EQ(Entries(folder.path()), (std::set<std::string>{"taken.png"}));
  EXPECT_EQ(ReadFile(folder.path() / "taken.png" / "inside"), "keep");
  EXPECT_TRUE(WriteFileWhole(folder.path() / "no-such-folder" / "a.png", "bytes"));
}

TEST(AlbumFolder, ListedAndTidiedRemovesOnlyOurTemporaryFilesAndListsTheRest) {
  TempFolder folder;
  for (const char* name : {".TorvoSync-123-0.part", ".TorvoSync-9-77.part", ".png", "a.png", ".TorvoSync-.part",
                           "x.TorvoSync-1-1.part", ".TorvoSync-1-1.part.png"})
    WriteFile(folder.path() / name, "x");
  const std::set<std::string> kept{".png", "a.png", ".TorvoSync-.part", "x.TorvoSync-1-1.part",
                                   ".TorvoSync-1-1.part.png"};
  AlbumFolder album = AlbumFolder::ListedAndTidied(folder.path());
  EXPECT_EQ(Entries(folder.path()), kept);
  for (const std::string& name : kept) EXPECT_TRUE(album.FileExists(name)) << name;
  EXPECT_FALSE(album.FileExists(".TorvoSync-123-0.part"));
  // A plain listing tidies nothing.
  WriteFile(folder.path() / ".TorvoSync-5-5.part", "x");
  AlbumFolder plain(folder.path());
  EXPECT_TRUE(plain.FileExists(".TorvoSync-5-5.part"));
}

}  // namespace
}  // namespace torvo::sync
