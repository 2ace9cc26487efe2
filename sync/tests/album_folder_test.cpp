#include "sync/album_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

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

// The compact set against the plain rule (FoldedNameEqual) over names made from a small alphabet of
// ASCII, Latin, Greek and Hangul letters in both cases, so that many differ only by case or by a
// character: grown from empty past several rehashes, asked whole and as stem + suffix.
TEST(FoldedNameSet, AnswersAsFoldedNameEqualAcrossGrowth) {
  const std::u16string alphabet = u"aAbB.\u00e9\u00c9\u03c3\u03a3\ud55c\u0131I";
  std::mt19937 random(12345);
  auto below = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
  auto name = [&] {
    std::u16string text;
    for (size_t length = below(5); length > 0; --length) text += alphabet[below(alphabet.size())];
    return text;
  };
  FoldedNameSet set;
  std::vector<std::u16string> inserted;
  auto inReference = [&](std::u16string_view probe) {
    return std::any_of(inserted.begin(), inserted.end(),
                       [&](const std::u16string& kept) { return FoldedNameEqual()(kept, probe); });
  };
  for (int round = 0; round < 3000; ++round) {
    const std::u16string added = name();
    const bool fresh = !inReference(added);
    ASSERT_EQ(set.Insert(added), fresh) << round;
    if (fresh) inserted.push_back(added);
    const std::u16string probe = name();
    ASSERT_EQ(set.Contains(probe), inReference(probe)) << round;
    const size_t cut = below(probe.size() + 1);
    ASSERT_EQ(set.Contains(std::u16string_view(probe).substr(0, cut), std::u16string_view(probe).substr(cut)),
              inReference(probe))
        << round;
  }
  EXPECT_EQ(set.size(), inserted.size());
  for (const std::u16string& kept : inserted) EXPECT_TRUE(set.Contains(kept));
  EXPECT_GT(inserted.size(), 1000u);  // past several doublings of the table
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
  // A file of the name that came after the folder was listed is replaced, as a rename does.
  WriteFile(folder.path() / "came.png", "old");
  ASSERT_FALSE(WriteFileWhole(folder.path() / "came.png", bytes));
  EXPECT_EQ(ReadFile(folder.path() / "a.png"), bytes);
  EXPECT_EQ(ReadFile(folder.path() / "empty.png"), "");
  EXPECT_EQ(ReadFile(folder.path() / "came.png"), bytes);
  EXPECT_EQ(Entries(folder.path()), (std::set<std::string>{"a.png", "came.png", "empty.png"}));
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
