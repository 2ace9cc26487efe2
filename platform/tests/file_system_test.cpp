// File calls with Korean names, on whichever system the tests run: the names must reach the
// disk whole (wide on Windows), new files must be new, and a rename must replace.
#include "platform/file_system.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>

#include "platform/codepage.h"
#include "platform/paths.h"
#include "platform/freeimage_io.h"
#include "platform/tests/temp_folder.h"
#include "platform/workfolder.h"

namespace torvo {
namespace {

namespace fs = std::filesystem;

struct Folder {
  fs::path path = testing::MakeTempFolder("torvo-platform-");
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(Utf8Path(entry.path().filename()));
  return names;
}

TEST(FileNames, KoreanNamesReachTheDiskWhole) {
  Folder folder;
  const std::string name = "기본 폴더의 그림 ☃.png";
  const fs::path file = folder.path / PathFromUtf8(name);
  EXPECT_EQ(Utf8Path(file.filename()), name);
  std::ofstream(file, std::ios::binary) << "bytes";
  EXPECT_EQ(Names(folder.path), std::set<std::string>{name});
  ASSERT_TRUE(FindNoCase(folder.path, name));
  EXPECT_EQ(Utf8Path(FindNoCase(folder.path, name)->filename()), name);
}

TEST(FileNames, FindNoCaseGivesTheNameAsStored) {
  Folder folder;
  std::ofstream(folder.path / "IMG.PNG") << "x";
  const auto found = FindNoCase(folder.path, "img.png");
  ASSERT_TRUE(found);
  EXPECT_EQ(Utf8Path(found->filename()), "IMG.PNG");
  EXPECT_FALSE(FindNoCase(folder.path, "img.bmp"));
}

TEST(ListFolder, NamesEveryEntryOnceAndTellsFoldersFromFiles) {
  Folder folder;
  struct Made {
    std::string name;
    bool folder;
  } made[] = {{"a.png", false}, {"B.PNG", false}, {"기본 그림.png", false}, {".png", false},
              {"sub.png", true}, {"빈 폴더", true}};
  for (const Made& m : made) {
    if (m.folder) {
      fs::create_directory(folder.path / PathFromUtf8(m.name));
    } else {
      std::ofstream(folder.path / PathFromUtf8(m.name), std::ios::binary) << "x";
    }
  }
  std::vector<FolderEntry> entries = ListFolder(folder.path);
  std::map<std::string, std::optional<bool>> seen;
  for (const FolderEntry& entry : entries) EXPECT_TRUE(seen.emplace(entry.name, entry.isFolder).second) << entry.name;
  ASSERT_EQ(seen.size(), std::size(made));
  for (const Made& m : made) EXPECT_EQ(seen[m.name], std::optional<bool>(m.folder)) << m.name;
  // Many names: read in more than one step of the system's.
  for (int i = 0; i < 1500; ++i) std::ofstream(folder.path / ("n" + std::to_string(i) + ".png")) << "";
  EXPECT_EQ(ListFolder(folder.path).size(), std::size(made) + 1500);
  EXPECT_TRUE(ListFolder(folder.path / "missing").empty());
  EXPECT_TRUE(ListFolder(folder.path / "a.png").empty());
}

TEST(FoldedName, NamesThatDifferOnlyInCaseFoldAlike) {
  struct Case {
    std::string a, b;
    bool same;
  } cases[] = {
      {"IMG.PNG", "img.png", true}, {"Mixed-Case_09.Png", "mixed-case_09.pNG", true},
      {"기본.png", "기본.PNG", true}, {"a.png", "b.png", false}, {"[.png", "{.png", false},
      {"@.png", "`.png", false}, {"a.png", "a.pn", false},
      {"ab.png", "ba.png", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FoldedName(c.a) == FoldedName(c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(FoldedName(c.a), FoldedName(std::u16string_view(FromUtf8(c.a)))) << c.a;
    // A set that folds as it goes agrees with the folded copies.
    const std::u16string a = FromUtf8(c.a), b = FromUtf8(c.b);
    EXPECT_EQ(FoldedNameEqual{}(a, b), c.same) << c.a << " / " << c.b;
    if (c.same) {
      EXPECT_EQ(FoldedNameHash{}(a), FoldedNameHash{}(b)) << c.a << " / " << c.b;
    }
  }
}

TEST(CreateNewFile, WritesANewFileAndNeverAnExistingOne) {
  Folder folder;
  const fs::path file = folder.path / PathFromUtf8("새 파일.part");
  bool existed = true;
  EXPECT_EQ(CreateNewFile(file, std::string("one\0two", 7), &existed), std::nullopt);
  EXPECT_FALSE(existed);
  EXPECT_EQ(Read(file), std::string("one\0two", 7));

  const std::optional<std::string> again = CreateNewFile(file, "other", &existed);
  ASSERT_TRUE(again);
  EXPECT_FALSE(again->empty());
  EXPECT_TRUE(existed);
  EXPECT_EQ(Read(file), std::string("one\0two", 7));

  const std::optional<std::string> noFolder = CreateNewFile(folder.path / "none" / "x", "x", &existed);
  ASSERT_TRUE(noFolder);
  EXPECT_FALSE(existed);
}

TEST(CreateWholeFile, NamesOnlyAWholeNewFileAndLeavesNothingElse) {
  Folder folder;
  const fs::path taken = folder.path / "taken.png";
  std::ofstream(taken, std::ios::binary) << "kept";
  struct Case {
    fs::path file;
    WholeFile result;
    std::set<std::string> entries;  // the folder's, after
  } cases[] = {
      {folder.path / PathFromUtf8("그림.png"), WholeFile::kMade, {"taken.png", "그림.png"}},
      {taken, WholeFile::kNameTaken, {"taken.png", "그림.png"}},
      {folder.path / "none" / "x.png", WholeFile::kFailed, {"taken.png", "그림.png"}},
  };
  const std::string bytes("one\0two", 7);
  for (const Case& c : cases) {
    std::string error;
    const WholeFile result = CreateWholeFile(c.file, bytes, &error);
    if (result == WholeFile::kNotOffered) GTEST_SKIP() << "this system names every file as it makes it";
    EXPECT_EQ(result, c.result) << c.file;
    EXPECT_EQ(error.empty(), c.result != WholeFile::kFailed) << c.file << ": " << error;
    std::set<std::string> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.path))
      entries.insert(Utf8Path(entry.path().filename()));
    EXPECT_EQ(entries, c.entries) << c.file;
  }
  EXPECT_EQ(Read(folder.path / PathFromUtf8("그림.png")), bytes);
  EXPECT_EQ(Read(taken), "kept");
}

TEST(RenameReplacing, ReplacesTheTargetAndSaysWhyItCannot) {
  Folder folder;
  const fs::path from = folder.path / "a.part", to = folder.path / PathFromUtf8("그림.png");
  std::ofstream(from, std::ios::binary) << "new";
  std::ofstream(to, std::ios::binary) << "old";
  EXPECT_EQ(RenameReplacing(from, to), std::nullopt);
  EXPECT_EQ(Read(to), "new");
  EXPECT_FALSE(fs::exists(from));
  const std::optional<std::string> missing = RenameReplacing(folder.path / "gone", to);
  ASSERT_TRUE(missing);
  EXPECT_FALSE(missing->empty());
  EXPECT_EQ(Read(to), "new");
}

TEST(PictureFiles, SaveAndLoadUnderAKoreanName) {
  Folder folder;
  FIBITMAP* dib = FreeImage_Allocate(3, 2, 24);
  ASSERT_NE(dib, nullptr);
  FreeImage_GetScanLine(dib, 1)[2] = 0xAB;
  for (FREE_IMAGE_FORMAT format : {FIF_BMP, FIF_PNG}) {
    const fs::path file = folder.path / PathFromUtf8(format == FIF_BMP ? "썸네일.bmp" : "썸네일.png");
    ASSERT_TRUE(SavePictureFile(format, dib, file)) << format;
    EXPECT_EQ(PictureFileType(file), format);
    FIBITMAP* back = LoadPictureFile(format, file);
    ASSERT_NE(back, nullptr) << format;
    EXPECT_EQ(FreeImage_GetWidth(back), 3u);
    EXPECT_EQ(FreeImage_GetHeight(back), 2u);
    EXPECT_EQ(FreeImage_GetScanLine(back, 1)[2], 0xAB);
    FreeImage_Unload(back);
  }
  EXPECT_EQ(LoadPictureFile(FIF_BMP, folder.path / "none.bmp"), nullptr);
  EXPECT_EQ(PictureFileType(folder.path / "none.bmp"), FIF_UNKNOWN);
  EXPECT_FALSE(SavePictureFile(FIF_BMP, dib, folder.path / "none" / "x.bmp"));
  FreeImage_Unload(dib);
}

}  // namespace
}  // namespace torvo
