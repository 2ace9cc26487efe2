#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "service/store/sqlite_store.h"
#include "service_process.h"
#include "test_store.h"

namespace torvo::service {
namespace {

using testing::OpenTestStore;
using testing::TempDir;

// 2009-12-01 12:34:56 UTC
constexpr std::time_t kNoon = 1259670896;

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  TempDir dir_;
  std::time_t now_ = kNoon;
  std::unique_ptr<Store> owned_ = OpenTestStore(dir_.path(), [this] { return now_; });
  Store& store_ = *owned_;
  // The picture's file, for the embedded store; nothing for PostgreSQL, which keeps no files.
  SqliteStore* sqlite() { return dynamic_cast<SqliteStore*>(&store_); }
};

TEST_F(StoreTest, NamesAreTheTimeBumpedUntilFree) {
  User a = store_.AddUser("a");
  User b = store_.AddUser("b");
  NewImage fields;
  std::vector<std::string> names;
  names.push_back(store_.AddImage(a.id, fields, "\x89PNG one").name);
  names.push_back(store_.AddImage(a.id, fields, "\x89PNG two").name);
  names.push_back(store_.AddImage(b.id, fields, "\x89PNG three").name);  // unique across users too
  now_ += 10;
  names.push_back(store_.AddImage(b.id, fields, "\x89PNG four").name);
  EXPECT_EQ(names, (std::vector<std::string>{"20091201123456", "20091201123457", "20091201123458", "20091201123506"}));

  auto images = store_.Images(a.id);
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[1].name, "20091201123457");
  EXPECT_EQ(images[1].uploaded, "2009-12-01 12:34:56");
  EXPECT_EQ(store_.Picture(images[1]), "\x89PNG two");
  if (sqlite()) {
    EXPECT_EQ(sqlite()->ImagePath(images[1]), dir_.path() / "images" / std::to_string(a.id) / "20091201123457.png");
  }
}

TEST_F(StoreTest, PicturesComeBackByteForByteAndAMissingFileIsNone) {
  User user = store_.AddUser("a");
  // Sizes around the read sizes a file is read in, and an empty one.
  for (size_t size : {size_t{0}, size_t{1}, size_t{8191}, size_t{8193}, size_t{20327}, size_t{300000}}) {
    std::string png(size, '\0');
    for (size_t i = 0; i < size; ++i) png[i] = static_cast<char>((i * 131 + size) % 251);
    Image image = store_.AddImage(user.id, NewImage{}, png);
    EXPECT_EQ(store_.Picture(image), png) << size << " bytes";
    now_ += 1;
  }
  if (!sqlite()) return;
  Image gone = store_.AddImage(user.id, NewImage{}, "\x89PNG gone");
  std::filesystem::remove(sqlite()->ImagePath(gone));
  EXPECT_FALSE(store_.Picture(gone)) << "a picture whose file was removed";
  now_ += 1;
  Image folder = store_.AddImage(user.id, NewImage{}, "\x89PNG folder");
  std::filesystem::remove(sqlite()->ImagePath(folder));
  std::filesystem::create_directory(sqlite()->ImagePath(folder));
  EXPECT_FALSE(store_.Picture(folder)) << "a folder where the picture's file was";
}

TEST_F(StoreTest, KeepsFieldsAndOrder) {
  User user = store_.AddUser("김 철수");
  store_.AddFolder("김 철수", "업무", 12);
  NewImage fields{12, false, "http://a/", "제목", "줄\r\n둘"};
  store_.AddNamedImage(user.id, "zeta", fields, "\x89PNG");
  store_.AddNamedImage(user.id, "alpha", NewImage{}, "\x89PNG");
  auto images = store_.Images(user.id);
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0].name, "zeta");  // upload order, not name order
  EXPECT_EQ(images[0].folder, 12);
  EXPECT_FALSE(images[0].isPublic);
  EXPECT_EQ(images[0].url, "http://a/");
  EXPECT_EQ(images[0].title, "제목");
  EXPECT_EQ(images[0].note, "줄\r\n둘");
  EXPECT_EQ(images[0].size, 4);
  auto found = store_.FindImage(user.id, "alpha");
  ASSERT_TRUE(found);
  EXPECT_TRUE(found->isPublic);
  EXPECT_FALSE(store_.FindImage(user.id, "ALPHA"));
}

TEST_F(StoreTest, ADownloadsOneLookFindsOnlyASignedInUsersOwnImage) {
  User alice = store_.AddUser("alice");
  User bob = store_.AddUser("bob");
  store_.AddNamedImage(alice.id, "shot", NewImage{}, "\x89PNG a");
  store_.AddNamedImage(bob.id, "bobs", NewImage{}, "\x89PNG b");
  store_.AddEntry(alice.id, NewImage{0, false, "http://bookmark/", "t", ""}, kNoon);
  store_.AddDevice(alice.id, "laptop", "alice-laptop");
  store_.AddUser("carol");
  store_.ReplaceToolbarId(store_.FindUser("carol")->id, "carol-new");
  store_.AddNamedImage(store_.FindUser("carol-new")->id, "old", NewImage{}, "\x89PNG c");
  store_.AddUser("dave");
  store_.AddNamedImage(store_.FindUser("dave")->id, "gone", NewImage{}, "\x89PNG d");
  store_.SetSignedIn("dave", false);

  const struct {
    const char* identity;
    const char* name;
    bool found;
  } cases[] = {
      {"alice", "shot", true},
      {"alice", "SHOT", false},
      {"alice", "bobs", false},         // another user's
      {"bob", "bobs", true},
      {"alice-laptop", "shot", false},  // a device: the download asks the long way
      {"carol", "old", false},          // a retired ToolbarID
      {"carol-new", "old", true},
      {"dave", "gone", false},          // signed out
      {"nobody", "shot", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.identity) + " " + c.name);
    std::optional<Image> image = store_.FindSignedInUsersImage(c.identity, c.name);
    ASSERT_EQ(image.has_value(), c.found);
    if (!c.found) continue;
    // The same image the two looks find.
    std::optional<Image> twoLooks = store_.FindImage(store_.FindUser(c.identity)->id, c.name);
    ASSERT_TRUE(twoLooks);
    EXPECT_EQ(std::tie(image->id, image->name, image->file, image->size), std::tie(twoLooks->id, twoLooks->name, twoLooks->file, twoLooks->size));
    EXPECT_EQ(store_.Picture(*image), store_.Picture(*twoLooks));
  }
}

TEST_F(StoreTest, OddNamesAreStoredInsideTheImageFolder) {
  User user = store_.AddUser("u");
  for (std::string name : std::vector<std::string>{"../../escape", "", ".hidden", "가나", std::string(201, 'n'), "a/b"}) {
    Image image = store_.AddNamedImage(user.id, name, NewImage{}, "\x89PNG " + name);
    if (sqlite()) {
      EXPECT_EQ(sqlite()->ImagePath(image).parent_path(), dir_.path() / "images" / std::to_string(user.id)) << name;
    }
    EXPECT_EQ(store_.Picture(image), "\x89PNG " + name);
    ASSERT_TRUE(store_.FindImage(user.id, name)) << name;
  }
  EXPECT_THROW(store_.AddNamedImage(user.id, "", NewImage{}, "x"), StoreError);  // taken
  for (std::string bad : {"a|b", "tab\there", "\xE0\xB8\x81"}) {
    EXPECT_THROW(store_.AddNamedImage(user.id, bad, NewImage{}, "x"), StoreError) << bad;
  }
}

TEST_F(StoreTest, UsersAndSigningOut) {
  for (std::string bad : {"", "a%41", "a&b", "a#b", "a\nb", "\xE0\xB8\x81"}) {
    EXPECT_THROW(store_.AddUser(bad), StoreError) << bad;
  }
  store_.AddUser("u1");
  EXPECT_THROW(store_.AddUser("u1"), StoreError);
  EXPECT_TRUE(store_.FindUser("u1")->signedIn);
  store_.SetSignedIn("u1", false);
  EXPECT_FALSE(store_.FindUser("u1")->signedIn);
  store_.SetSignedIn("u1", true);
  EXPECT_TRUE(store_.FindUser("u1")->signedIn);
  EXPECT_THROW(store_.SetSignedIn("nobody", false), StoreError);
  EXPECT_FALSE(store_.FindUser("U1"));
}

TEST_F(StoreTest, FolderNumbers) {
  User user = store_.AddUser("u");
  EXPECT_EQ(store_.AddFolder("u", "a", std::nullopt).number, 1);
  EXPECT_EQ(store_.AddFolder("u", "b", 12).number, 12);
  EXPECT_EQ(store_.AddFolder("u", "", std::nullopt).number, 13);  // an empty name is a name
  EXPECT_EQ(store_.AddFolder("u", "neg", -5).number, -5);
  EXPECT_EQ(store_.AddFolder("u", "a", std::nullopt).number, 14);  // two folders may share a name
  EXPECT_THROW(store_.AddFolder("u", "dup", 12), StoreError);
  EXPECT_THROW(store_.AddFolder("u", "zero", 0), StoreError);
  EXPECT_THROW(store_.AddFolder("u", "a|b", std::nullopt), StoreError);
  EXPECT_THROW(store_.AddFolder("u", "a^b", std::nullopt), StoreError);
  EXPECT_THROW(store_.AddFolder("nobody", "a", std::nullopt), StoreError);
  std::vector<int32_t> numbers;
  for (const auto& folder : store_.Folders(user.id)) numbers.push_back(folder.number);
  EXPECT_EQ(numbers, (std::vector<int32_t>{1, 12, 13, -5, 14}));
  EXPECT_TRUE(store_.HasFolder(user.id, -5));
  EXPECT_FALSE(store_.HasFolder(user.id, 0));
}

TEST_F(StoreTest, ASecondStoreOnTheSameFolderSeesTheData) {
  User user = store_.AddUser("u");
  store_.AddImage(user.id, NewImage{}, "\x89PNG");
  auto other = OpenTestStore(dir_.path(), [this] { return now_; });
  EXPECT_EQ(other->AddImage(user.id, NewImage{}, "\x89PNG").name, "20091201123457");
  EXPECT_EQ(store_.Images(user.id).size(), 2u);
  // A lookup ends on its row without reading on; the store must not keep reading from then on, or
  // it would go on seeing the database as it was.
  ASSERT_TRUE(store_.FindUser("u"));
  other->AddUser("v");
  EXPECT_TRUE(store_.FindUser("v"));
  EXPECT_EQ(other->AddImage(user.id, NewImage{}, "\x89PNG").name, "20091201123458");
  EXPECT_EQ(store_.Images(user.id).size(), 3u);
}

}  // namespace
}  // namespace torvo::service
