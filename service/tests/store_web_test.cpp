#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <fstream>

#include "service/store/sqlite_store.h"
#include "service_process.h"
#include "test_store.h"

namespace torvo::service {
namespace {

using testing::OpenTestStore;
using testing::TempDir;

std::vector<std::string> Titles(const std::vector<Image>& images) {
  std::vector<std::string> titles;
  for (const auto& image : images) titles.push_back(image.title);
  return titles;
}

class StoreWebTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  EntryQuery Query(const User& user, std::string search = {}, std::optional<int32_t> folder = {}) {
    EntryQuery query;
    query.userId = user.id;
    query.search = std::move(search);
    query.folder = folder;
    return query;
  }
  TempDir dir_;
  std::time_t now_ = 1259670896;
  std::unique_ptr<Store> owned_ = OpenTestStore(dir_.path(), [this] { return now_; });
  Store& store_ = *owned_;
  // The picture's file, for the embedded store; nothing for PostgreSQL, which keeps no files.
  SqliteStore* sqlite() { return dynamic_cast<SqliteStore*>(&store_); }
};

TEST_F(StoreWebTest, ListIsNewestFirstAndPaged) {
  User user = store_.AddUser("u");
  for (int i = 0; i < 65; ++i) {
    store_.AddImage(user.id, NewImage{0, true, "http://a/", "entry " + std::to_string(i), ""}, "\x89PNG");
    if (i % 2) ++now_;  // two a second: the later one still comes first
  }
  EntryQuery query = Query(user);
  query.limit = 30;
  std::vector<std::string> seen;
  for (query.offset = 0; query.offset < 90; query.offset += 30) {
    auto page = store_.Entries(query);
    for (const auto& entry : page) seen.push_back(entry.title);
  }
  ASSERT_EQ(seen.size(), 65u);
  for (int i = 0; i < 65; ++i) EXPECT_EQ(seen[i], "entry " + std::to_string(64 - i));
  // An imported bookmark of long ago sorts by its own date.
  store_.AddEntry(user.id, NewImage{0, true, "http://old/", "old one", ""}, 1000000000);
  query.offset = 65;
  EXPECT_EQ(Titles(store_.Entries(query)), std::vector<std::string>{"old one"});
}

TEST_F(StoreWebTest, SearchFindsEnglishAndKoreanWordsOfAnyLength) {
  User user = store_.AddUser("u");
  User other = store_.AddUser("other");
  store_.AddFolder("u", "여행", 3);
  store_.AddImage(user.id, NewImage{0, true, "https://news.example/sharpen", "Sharpened thumbnails", "오늘의 메모"}, "\x89PNG");
  store_.AddImage(user.id, NewImage{3, false, "https://jeju.example/", "제주 여행지 안내", "바다와 오름\n둘째 줄"}, "\x89PNG");
  store_.AddImage(user.id, NewImage{0, true, "https://a.example/", "Café menu", "책 한 권"}, "\x89PNG");
  store_.AddImage(other.id, NewImage{0, true, "https://other.example/", "메모 of another user", "여행"}, "\x89PNG");
  struct Case {
    const char* words;
    std::vector<std::string> titles;
  };
  const Case cases[] = {
      {"sharpened", {"Sharpened thumbnails"}},
      {"SHARP", {"Sharpened thumbnails"}},
      {"메모", {"Sharpened thumbnails"}},
      {"여행", {"제주 여행지 안내"}},
      {"여행지", {"제주 여행지 안내"}},
      {"행지", {"제주 여행지 안내"}},
      {"오름 둘째", {"제주 여행지 안내"}},
      {"책", {"Café menu"}},
      {"cafe", {"Café menu"}},
      {"jeju.example", {"제주 여행지 안내"}},
      {"여행지안", {}},
      {"nothing", {}},
      {"\"", {}},
      {"*", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Titles(store_.Entries(Query(user, c.words))), c.titles) << c.words;
  EXPECT_EQ(Titles(store_.Entries(Query(user, "여행", 0))), std::vector<std::string>{});
  EXPECT_EQ(Titles(store_.Entries(Query(user, "", 3))), std::vector<std::string>{"제주 여행지 안내"});
}

TEST_F(StoreWebTest, EditsAndDeletesReachOnlyTheOwnersEntries) {
  User user = store_.AddUser("u");
  User other = store_.AddUser("other");
  store_.AddFolder("u", "업무", 12);
  store_.AddFolder("other", "남의 폴더", 13);
  Image image = store_.AddImage(user.id, NewImage{0, true, "http://a/", "old title", "old"}, "\x89PNG picture");
  NewImage changed{12, false, "ignored", "new title", "새 메모"};
  EXPECT_FALSE(store_.UpdateEntry(other.id, image.id, changed));
  EXPECT_FALSE(store_.DeleteEntry(other.id, image.id));
  EXPECT_FALSE(store_.FindEntry(other.id, image.id));
  EXPECT_THROW(store_.UpdateEntry(user.id, image.id, NewImage{13, true, "", "x", ""}), StoreError);  // not their folder
  EXPECT_THROW(store_.RenameFolder(other.id, 12, "taken"), StoreError);
  EXPECT_THROW(store_.RemoveFolder(other.id, 12), StoreError);

  ASSERT_TRUE(store_.UpdateEntry(user.id, image.id, changed));
  auto edited = store_.FindEntry(user.id, image.id);
  ASSERT_TRUE(edited);
  EXPECT_EQ(edited->title, "new title");
  EXPECT_EQ(edited->note, "새 메모");
  EXPECT_EQ(edited->url, "http://a/");  // the address stays
  EXPECT_EQ(edited->folder, 12);
  EXPECT_FALSE(edited->isPublic);
  EXPECT_EQ(Titles(store_.Entries(Query(user, "메모"))), std::vector<std::string>{"new title"});
  EXPECT_EQ(Titles(store_.Entries(Query(user, "old"))), std::vector<std::string>{});

  store_.RenameFolder(user.id, 12, "업무 자료");
  EXPECT_EQ(store_.Folders(user.id)[0].name, "업무 자료");
  EXPECT_THROW(store_.RenameFolder(user.id, 12, "a|b"), StoreError);
  store_.RemoveFolder(user.id, 12);
  EXPECT_TRUE(store_.Folders(user.id).empty());
  EXPECT_EQ(store_.FindEntry(user.id, image.id)->folder, 0);  // moved to 기본

  ASSERT_EQ(store_.Picture(*edited), "\x89PNG picture");
  std::filesystem::path path = sqlite() ? sqlite()->ImagePath(*edited) : std::filesystem::path{};
  ASSERT_TRUE(store_.DeleteEntry(user.id, image.id));
  EXPECT_FALSE(store_.Picture(*edited));
  if (sqlite()) {
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  EXPECT_TRUE(store_.Images(user.id).empty());
  EXPECT_TRUE(store_.Entries(Query(user, "메모")).empty());
  EXPECT_FALSE(store_.DeleteEntry(user.id, image.id));
}

TEST_F(StoreWebTest, EntriesWithoutAPictureStayOutOfTheImageList) {
  User user = store_.AddUser("u");
  store_.AddImage(user.id, NewImage{}, "\x89PNG");
  Image bookmark = store_.AddEntry(user.id, NewImage{0, true, "http://b/", "bookmark", ""}, 1000000000);
  EXPECT_FALSE(bookmark.HasPicture());
  EXPECT_EQ(bookmark.uploaded, "2001-09-09 01:46:40");
  EXPECT_EQ(store_.Images(user.id).size(), 1u);
  EXPECT_FALSE(store_.FindImage(user.id, bookmark.name));  // nothing to download under its name
  EXPECT_EQ(store_.Entries(Query(user)).size(), 2u);
  EXPECT_THROW(store_.AddEntry(user.id, NewImage{77, true, "", "", ""}, 0), StoreError);
  EXPECT_TRUE(store_.HasEntry(user.id, NewImage{0, false, "http://b/", "bookmark", ""}));  // private or not
  EXPECT_FALSE(store_.HasEntry(user.id, NewImage{0, true, "http://b/", "bookmark", "a note"}));
  User other = store_.AddUser("other");
  EXPECT_FALSE(store_.HasEntry(other.id, NewImage{0, true, "http://b/", "bookmark", ""}));
}

TEST_F(StoreWebTest, AccountsToolbarIdsAndSessions) {
  User alice = store_.AddAccount("alice", "tok-1");
  EXPECT_EQ(store_.FindUser("tok-1")->name, "alice");
  EXPECT_EQ(store_.FindUserByName("alice")->identity, "tok-1");
  EXPECT_THROW(store_.AddAccount("alice", "tok-2"), StoreError);  // the name is taken
  EXPECT_THROW(store_.AddAccount("bob", "tok-1"), StoreError);    // the ToolbarID is taken
  EXPECT_THROW(store_.AddAccount("", "tok-3"), StoreError);
  EXPECT_THROW(store_.AddAccount("a\nb", "tok-3"), StoreError);
  EXPECT_THROW(store_.AddAccount("bob", "a&b"), StoreError);
  EXPECT_FALSE(store_.FindUserByName("alice")->hasPassword);

  store_.ReplaceToolbarId(alice.id, "tok-2");
  auto old = store_.FindUser("tok-1");
  ASSERT_TRUE(old);  // known, and signed out in the exchanges
  EXPECT_FALSE(old->signedIn);
  EXPECT_EQ(old->id, alice.id);
  EXPECT_TRUE(store_.FindUser("tok-2")->signedIn);
  EXPECT_THROW(store_.AddAccount("bob", "tok-1"), StoreError);  // never handed out again
  EXPECT_THROW(store_.ReplaceToolbarId(alice.id, "tok-1"), StoreError);

  store_.AddSession("hash-1", alice.id, "csrf-1");
  EXPECT_EQ(store_.FindSession("hash-1")->csrf, "csrf-1");
  EXPECT_FALSE(store_.FindSession("hash-2"));
  now_ += 29 * 24 * 3600;
  EXPECT_TRUE(store_.FindSession("hash-1"));  // and seen again now
  now_ += 29 * 24 * 3600;
  EXPECT_TRUE(store_.FindSession("hash-1"));
  now_ += 31 * 24 * 3600;
  EXPECT_FALSE(store_.FindSession("hash-1"));  // idle too long
  store_.AddSession("hash-3", alice.id, "csrf-3");
  store_.SetPasswordHash(alice.id, "$argon2id$whatever");
  EXPECT_FALSE(store_.FindSession("hash-3"));  // a new password ends the sessions
  EXPECT_TRUE(store_.FindUserByName("alice")->hasPassword);
  store_.AddSession("hash-4", alice.id, "csrf-4");
  store_.RemoveSession("hash-4");
  EXPECT_FALSE(store_.FindSession("hash-4"));
}

// The layout torvo-service wrote before the web page, with a user, a folder and two images.
void WriteFirstLayout(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir / "images" / "1");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir / "torvo.sqlite").c_str(), &db), SQLITE_OK);
  const char* sql = R"sql(
PRAGMA journal_mode=WAL;
CREATE TABLE users(id INTEGER PRIMARY KEY, identity TEXT NOT NULL UNIQUE, signed_in INTEGER NOT NULL DEFAULT 1);
CREATE TABLE folders(id INTEGER PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id), number INTEGER NOT NULL,
  name TEXT NOT NULL, UNIQUE(user_id, number));
CREATE TABLE images(id INTEGER PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id), name TEXT NOT NULL,
  file TEXT NOT NULL, folder INTEGER NOT NULL, public INTEGER NOT NULL, url TEXT NOT NULL, title TEXT NOT NULL,
  note TEXT NOT NULL, size INTEGER NOT NULL, uploaded TEXT NOT NULL, UNIQUE(user_id, name));
CREATE INDEX images_by_name ON images(name);
INSERT INTO users VALUES(1, '김 철수', 1), (2, 'out', 0);
INSERT INTO folders VALUES(1, 1, 12, '업무');
INSERT INTO images VALUES(1, 1, '20091201123456', '1/20091201123456.png', 12, 0, 'http://a/', '업무 메모', 'note', 4, '2009-12-01 12:34:56');
INSERT INTO images VALUES(2, 1, '20091201123457', '1/20091201123457.png', 0, 1, 'http://b/', 'second', '여행 계획', 4, '2009-12-01 12:34:57');
)sql";
  char* error = nullptr;
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_close(db);
  for (const char* name : {"20091201123456", "20091201123457"}) {
    std::ofstream(dir / "images" / "1" / (std::string(name) + ".png"), std::ios::binary) << "\x89PNG";
  }
}

TEST(StoreMigration, TodaysDataFolderOpensWithNothingLost) {
  TempDir dir;
  WriteFirstLayout(dir.path());
  {
    SqliteStore store(dir.path());
    auto user = store.FindUser("김 철수");
    ASSERT_TRUE(user);
    EXPECT_EQ(user->name, "김 철수");  // today's users keep their identity as ToolbarID and name
    EXPECT_FALSE(user->hasPassword);
    EXPECT_FALSE(store.FindUser("out")->signedIn);
    auto images = store.Images(user->id);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].name, "20091201123456");
    EXPECT_EQ(images[0].title, "업무 메모");
    EXPECT_EQ(images[0].folder, 12);
    EXPECT_FALSE(images[0].isPublic);
    EXPECT_TRUE(std::filesystem::exists(store.ImagePath(images[1])));
    EXPECT_EQ(store.Folders(user->id)[0].name, "업무");
    EntryQuery query;
    query.userId = user->id;
    query.search = "여행";
    auto found = store.Entries(query);
    ASSERT_EQ(found.size(), 1u);  // the old entries are in the search index
    EXPECT_EQ(found[0].title, "second");
  }
  SqliteStore again(dir.path());  // a second opening changes nothing
  EXPECT_EQ(again.Users().size(), 2u);
}

TEST(StoreMigration, NewerLayoutIsRefused) {
  TempDir dir;
  { SqliteStore store(dir.path()); }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir.path() / "torvo.sqlite").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA user_version = 99", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  try {
    SqliteStore store(dir.path());
    FAIL() << "opened a layout from the future";
  } catch (const StoreError& error) {
    EXPECT_NE(std::string(error.what()).find("newer torvo-service (layout 99"), std::string::npos) << error.what();
  }
}

}  // namespace
}  // namespace torvo::service
