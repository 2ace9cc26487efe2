// What only the PostgreSQL store has to show: several processes on one database, a database of
// the wrong encoding refused, a search that takes any text.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <thread>

#include "service/store/accounts.h"
#include "service/store/postgres_store.h"
#include "service/store/sqlite_store.h"
#include "service_process.h"
#include "test_store.h"

namespace torvo::service::testing {
namespace {

constexpr std::time_t kNoon = 1259670896;  // 2009-12-01 12:34:56 UTC

class PostgresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  std::string url_ = PostgresCluster::Shared().NewSchema();
};

TEST_F(PostgresTest, ADatabaseThatIsNotUtf8IsRefusedAtStart) {
  struct Case {
    const char* encoding;
    const char* locale;
    bool accepted;
  };
  const Case cases[] = {{"UTF8", "C.UTF-8", true}, {"UTF8", "C", false}, {"SQL_ASCII", "C", false}, {"LATIN1", "C", false}};
  for (const auto& c : cases) {
    std::string url = PostgresCluster::Shared().NewDatabase(c.encoding, c.locale);
    if (c.accepted) {
      EXPECT_NO_THROW(PostgresStore store(url)) << c.encoding << " " << c.locale;
      continue;
    }
    try {
      PostgresStore store(url);
      ADD_FAILURE() << "accepted " << c.encoding << " " << c.locale;
    } catch (const StoreError& error) {
      EXPECT_NE(std::string(error.what()).find("create it with ENCODING 'UTF8'"), std::string::npos) << error.what();
    }
  }
  try {
    PostgresStore store("host=127.0.0.1 port=" + std::to_string(PostgresCluster::Shared().port()) + " user=torvo dbname=missing");
    ADD_FAILURE() << "opened a database that does not exist";
  } catch (const StoreError& error) {
    EXPECT_NE(std::string(error.what()).find("cannot connect to the database"), std::string::npos) << error.what();
  }
}

TEST_F(PostgresTest, UploadsInTheSameSecondOnTwoProcessesGetNamesOfTheirOwn) {
  // Two stores stand for two service processes; the clock stands still, so every name is contested.
  PostgresStore first(url_, [] { return kNoon; });
  PostgresStore second(url_, [] { return kNoon; });
  User a = first.AddUser("a");
  User b = first.AddUser("b");
  std::vector<std::thread> threads;
  std::mutex mutex;
  std::vector<std::string> names;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      PostgresStore& store = t % 2 ? second : first;
      for (int i = 0; i < 15; ++i) {
        std::string name = store.AddImage(t < 2 ? a.id : b.id, NewImage{}, "\x89PNG " + std::to_string(t * 100 + i)).name;
        std::lock_guard lock(mutex);
        names.push_back(name);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<std::string> distinct(names.begin(), names.end());
  EXPECT_EQ(distinct.size(), 60u);
  EXPECT_EQ(*distinct.begin(), "20091201123456");
  EXPECT_EQ(*distinct.rbegin(), "20091201123555");  // one second each, none skipped
  // A deleted image's name is not handed out again.
  Image last = second.AddImage(a.id, NewImage{}, "\x89PNG");
  ASSERT_TRUE(second.DeleteEntry(a.id, last.id));
  EXPECT_NE(first.AddImage(a.id, NewImage{}, "\x89PNG").name, last.name);
}

TEST_F(PostgresTest, WrongPasswordsOnAnyProcessAreOneCount) {
  PostgresStore first(url_);
  PostgresStore second(url_);
  std::time_t now = kNoon;
  SignInThrottle one([&] { return now; }, first.SharedSignInCounts());
  SignInThrottle other([&] { return now; }, second.SharedSignInCounts());
  for (int i = 0; i < SignInThrottle::kFreeFailures; ++i) (i % 2 ? one : other).Failed("alice", "10.0.0.1");
  EXPECT_EQ(one.WaitSeconds("alice", "10.0.0.9"), 4);
  EXPECT_EQ(other.WaitSeconds("bob", "10.0.0.1"), 4);
  other.Failed("alice", "10.0.0.2");
  EXPECT_EQ(one.WaitSeconds("alice", "10.0.0.3"), 8);
  one.Succeeded("alice", "10.0.0.1");
  EXPECT_EQ(other.WaitSeconds("alice", "10.0.0.3"), 0);
  EXPECT_EQ(other.WaitSeconds("bob", "10.0.0.1"), 0);  // the success cleared its address too
}

TEST_F(PostgresTest, SearchTakesAnyTextAndFindsPairsInOneFieldOnly) {
  PostgresStore store(url_);
  User user = store.AddUser("u");
  store.AddImage(user.id, NewImage{0, true, "https://jeju.example/", "제주 여행지 안내", "바다와 오름"}, "\x89PNG");
  store.AddImage(user.id, NewImage{0, true, "https://a.example/o'brien", "It's O'Brien\\s \"menu\"", "Ünïcödé ÉTÉ"}, "\x89PNG");
  store.AddImage(user.id, NewImage{0, true, "https://c.example/", "가나", "나다"}, "\x89PNG");
  struct Case {
    const char* words;
    size_t found;
  };
  const Case cases[] = {
      {"여행지", 1}, {"가나", 1}, {"나다", 1},
      {"가나다", 0},  // "가나" ends a title and "나다" starts its note: a phrase does not run across fields
      {"o'brien", 1}, {"brien", 1}, {"\"menu\"", 1}, {"unicode ete", 1}, {"ÜNÏ", 1},
      {"'); DROP TABLE images; --", 0}, {"zz:* | qq", 0}, {"!(&)<->", 0}, {"\\", 0}, {"'", 0}, {"::tsquery", 0},
  };
  for (const auto& c : cases) {
    EntryQuery query;
    query.userId = user.id;
    query.search = c.words;
    EXPECT_EQ(store.Entries(query).size(), c.found) << c.words;
  }
  EXPECT_EQ(store.Images(user.id).size(), 3u);  // still there
}

TEST_F(PostgresTest, HealthSaysTheDatabaseAnswers) {
  TempDir dir;
  { PostgresStore store(url_); }
  ServiceProcess service(dir.path(), {"--database", url_});
  Reply reply = RawClient(service.port()).Get("/health");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "ok\n");
  EXPECT_EQ(service.Stop(), 0);
}

TEST_F(PostgresTest, HealthSaysWhenTheDatabaseCannotBeReachedAndWhenItIsBack) {
  PostgresCluster own;  // of its own: stopping it disturbs no other test
  std::string url = own.Url("torvo");
  ASSERT_EQ(RunCommand({"user", "add", "--database", url, "alice", "--toolbar-id", "alice-id"}).exitCode, 0);
  TempDir dir;
  ServiceProcess service(dir.path(), {"--database", url});
  // Each step's /health, then what an upload tool's image list says through the same process.
  auto health = [&] { return RawClient(service.port()).Get("/health"); };
  auto imageList = [&] { return RawClient(service.port()).Get("/imgList.php?tid=alice-id"); };
  // Several requests at once, so the process holds more than one connection when the server goes.
  std::vector<std::thread> busy;
  for (int i = 0; i < 8; ++i) busy.emplace_back([&] { imageList(); });
  for (auto& thread : busy) thread.join();
  ASSERT_EQ(health().status, 200);

  own.Stop();
  Reply down = health();
  EXPECT_EQ(down.status, 503);
  EXPECT_TRUE(down.body.starts_with("database unreachable: ")) << down.body;
  EXPECT_NE(down.body.find("database"), down.body.rfind("database")) << "no reason given: " << down.body;
  EXPECT_EQ(down.headers["cache-control"], "no-store");

  own.Restart();
  struct Step {
    const char* what;
    std::function<Reply()> request;
    int status;
    std::string body;
  };
  // The first requests after the server is back are answered: no connection it cut off is reused.
  const std::string none = "http://127.0.0.1:" + std::to_string(service.port()) + "/img/alice-id";
  const Step steps[] = {
      {"health", health, 200, "ok\n"},
      {"image list", imageList, 200, none},
      {"image list", imageList, 200, none},
      {"image list", imageList, 200, none},
      {"image list", imageList, 200, none},
      {"health", health, 200, "ok\n"},
  };
  for (const auto& step : steps) {
    Reply reply = step.request();
    EXPECT_EQ(reply.status, step.status) << step.what << ": " << reply.body;
    EXPECT_EQ(reply.body, step.body) << step.what;
  }
  EXPECT_EQ(service.Stop(), 0);
}

std::vector<Image> AllEntries(Store& store, int64_t userId, const std::string& search = {}) {
  EntryQuery query;
  query.userId = userId;
  query.search = search;
  query.limit = 1000;
  return store.Entries(query);
}

TEST_F(PostgresTest, MigrateMovesADataFolderWithNothingLost) {
  TempDir dir;
  {
    SqliteStore old(dir.path(), [] { return kNoon; });
    User kim = old.AddUser("김 철수");
    User alice = old.AddAccount("alice", "alice-old-id");
    old.SetPasswordHash(alice.id, "$argon2id$stand-in");
    old.ReplaceToolbarId(alice.id, "alice-new-id");
    old.AddSession("session-hash", alice.id, "csrf-token");
    old.AddDevice(alice.id, "노트북", "laptop-id");
    old.SetSharing(alice.id, true, "alices-album");
    old.ReplaceFeedSecret(kim.id, "a-feed-secret-of-kim");
    old.AddFolder("김 철수", "여행", 7);
    old.AddFolder("alice-new-id", "업무 자료", std::nullopt);
    old.AddImage(kim.id, NewImage{7, false, "https://jeju.example/", "제주 여행지 안내", "비공개 메모"}, "\x89PNG one");
    old.AddNamedImage(kim.id, "../odd name", NewImage{0, true, "http://a/", "odd", ""}, "\x89PNG two");
    old.AddEntry(alice.id, NewImage{1, true, "https://imported.example/", "가져온 책갈피", "from a bookmark file"}, 1000000000);
    Image gone = old.AddImage(alice.id, NewImage{0, true, "http://gone/", "lost file", ""}, "\x89PNG three");
    std::filesystem::remove(old.ImagePath(gone));
  }
  CommandResult moved = RunCommand({"migrate", "--data", dir.path().string(), "--database", url_});
  ASSERT_EQ(moved.exitCode, 0) << moved.out;
  EXPECT_EQ(moved.out, "moved 2 users, 1 devices, 2 folders, 4 entries, 2 pictures, 1 sessions\n"
                       "1 entries had lost their picture file and are kept without one\n");

  SqliteStore old(dir.path());
  PostgresStore now(url_, [] { return kNoon; });
  ASSERT_EQ(now.Users().size(), 2u);
  for (const User& user : old.Users()) {
    auto same = now.FindUserById(user.id);
    ASSERT_TRUE(same);
    EXPECT_EQ(same->name, user.name);
    EXPECT_EQ(same->identity, user.identity);
    EXPECT_EQ(now.PasswordHash(user.id), old.PasswordHash(user.id));
    auto folders = now.Folders(user.id);
    ASSERT_EQ(folders.size(), old.Folders(user.id).size());
    for (size_t i = 0; i < folders.size(); ++i) EXPECT_EQ(folders[i].name, old.Folders(user.id)[i].name);
    auto before = AllEntries(old, user.id);
    auto after = AllEntries(now, user.id);
    ASSERT_EQ(after.size(), before.size()) << user.name;
    for (size_t i = 0; i < after.size(); ++i) {
      EXPECT_EQ(after[i].id, before[i].id);
      EXPECT_EQ(after[i].name, before[i].name);
      EXPECT_EQ(after[i].title, before[i].title);
      EXPECT_EQ(after[i].note, before[i].note);
      EXPECT_EQ(after[i].url, before[i].url);
      EXPECT_EQ(after[i].folder, before[i].folder);
      EXPECT_EQ(after[i].isPublic, before[i].isPublic);
      EXPECT_EQ(after[i].uploaded, before[i].uploaded);
      EXPECT_EQ(now.Picture(after[i]), old.Picture(before[i])) << after[i].title;
    }
  }
  int64_t kim = now.FindUserByName("김 철수")->id;
  EXPECT_EQ(AllEntries(now, kim, "여행").size(), 1u);
  auto session = now.FindSession("session-hash");
  ASSERT_TRUE(session);
  EXPECT_EQ(session->csrf, "csrf-token");
  EXPECT_FALSE(now.FindUser("alice-old-id")->signedIn);
  EXPECT_EQ(now.FindDeviceUser("laptop-id")->name, "alice");
  EXPECT_EQ(now.SharedAlbum("alices-album"), now.FindUserByName("alice")->id);
  EXPECT_EQ(now.FeedOwner("a-feed-secret-of-kim"), kim);
  EXPECT_EQ(now.Devices(now.FindUserByName("alice")->id).at(0).name, "노트북");
  EXPECT_EQ(now.Images(now.FindUserByName("alice")->id).size(), 0u);  // the lost file's entry has no picture now
  EXPECT_GT(now.AddImage(kim, NewImage{}, "\x89PNG").id, 4);  // numbers go on after the copied ones

  CommandResult again = RunCommand({"migrate", "--data", dir.path().string(), "--database", url_});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(RunCommand({"migrate", "--data", dir.path().string()}).exitCode, 2);
}

}  // namespace
}  // namespace torvo::service::testing
