#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include <fstream>
#include <regex>

#include "service/web/album.h"
#include "service/store/sqlite_store.h"
#include "service_process.h"
#include "test_store.h"

namespace torvo::service {
namespace {

using testing::MakePng;
using testing::OpenTestStore;
using testing::RunCommand;
using testing::ServiceProcess;
using testing::TempDir;

// alice with public and private entries in two folders, bob who never shares.
class AlbumStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = OpenTestStore(dir_.path(), [this] { return now_++; });
    alice_ = store_->AddAccount("alice", "alice-tb").id;
    bob_ = store_->AddAccount("bob", "bob-tb").id;
    trips_ = store_->AddFolder(alice_, "여행").number;
    secrets_ = store_->AddFolder(alice_, "비밀").number;
    open_ = Add(alice_, 0, true, "Sharpened thumbnails", "public words");
    trip_ = Add(alice_, trips_, true, "제주 여행지", "바다");
    hidden_ = Add(alice_, secrets_, false, "Hidden diary", "zanzibar only here");
    hiddenDefault_ = Add(alice_, 0, false, "Quiet default", "also private");
    NewImage imported;
    imported.url = "https://example.org/imported";
    imported.title = "Imported without picture";
    noPicture_ = store_->AddEntry(alice_, imported, now_++).id;
    bobs_ = Add(bob_, 0, true, "Bob's public", "zanzibar too");
  }
  int64_t Add(int64_t user, int32_t folder, bool isPublic, const std::string& title, const std::string& note) {
    NewImage fields;
    fields.folder = folder;
    fields.isPublic = isPublic;
    fields.url = "https://example.com/" + std::to_string(now_);
    fields.title = title;
    fields.note = note;
    return store_->AddImage(user, fields, MakePng(200)).id;
  }
  std::vector<int64_t> Ids(const std::vector<Image>& entries) {
    std::vector<int64_t> ids;
    for (const auto& entry : entries) ids.push_back(entry.id);
    return ids;
  }

  TempDir dir_;
  std::time_t now_ = 1'700'000'000;
  std::unique_ptr<Store> store_;
  int64_t alice_ = 0, bob_ = 0;
  int32_t trips_ = 0, secrets_ = 0;
  int64_t open_ = 0, trip_ = 0, hidden_ = 0, hiddenDefault_ = 0, noPicture_ = 0, bobs_ = 0;
};

TEST_F(AlbumStoreTest, PublicQueriesNeverReturnAPrivateEntry) {
  struct Case {
    const char* what;
    std::optional<int32_t> folder;
    std::string search;
    bool withPicture;
    std::vector<int64_t> wanted;
  };
  const std::vector<Case> cases = {
      {"everything, newest first", std::nullopt, "", false, {noPicture_, trip_, open_}},
      {"the wall: pictures only", std::nullopt, "", true, {trip_, open_}},
      {"the default folder", 0, "", false, {noPicture_, open_}},
      {"a folder of public entries", trips_, "", false, {trip_}},
      {"a folder of private entries only", secrets_, "", false, {}},
      {"a word only a private entry holds", std::nullopt, "zanzibar", false, {}},
      {"a title word only a private entry holds", std::nullopt, "diary", false, {}},
      {"a word of a public entry", std::nullopt, "sharpened", false, {open_}},
      {"a Korean word of a public entry", std::nullopt, "여행", false, {trip_}},
  };
  for (const auto& c : cases) {
    EntryQuery query;
    query.userId = alice_;
    query.folder = c.folder;
    query.search = c.search;
    EXPECT_EQ(Ids(store_->PublicEntries(query, c.withPicture)), c.wanted) << c.what;
  }
  EXPECT_EQ(store_->PublicFolders(alice_), (std::vector<int32_t>{0, trips_}));  // 비밀 holds nothing public

  struct Find {
    const char* what;
    int64_t user, entry;
    bool found;
  };
  for (const auto& f : std::vector<Find>{{"public", alice_, open_, true},
                                         {"private", alice_, hidden_, false},
                                         {"another user's public entry by this user", alice_, bobs_, false},
                                         {"no such entry", alice_, 999999, false}}) {
    EXPECT_EQ(store_->FindPublicEntry(f.user, f.entry).has_value(), f.found) << f.what;
  }

  // Made private, or deleted: gone from the next query.
  NewImage changed;
  changed.folder = trips_;
  changed.isPublic = false;
  changed.title = "제주 여행지";
  ASSERT_TRUE(store_->UpdateEntry(alice_, trip_, changed));
  ASSERT_TRUE(store_->DeleteEntry(alice_, open_));
  EntryQuery all;
  all.userId = alice_;
  EXPECT_EQ(Ids(store_->PublicEntries(all)), (std::vector<int64_t>{noPicture_}));
  EXPECT_FALSE(store_->FindPublicEntry(alice_, trip_));
  EXPECT_EQ(store_->PublicFolders(alice_), (std::vector<int32_t>{0}));
}

TEST_F(AlbumStoreTest, SharingIsOffUntilTurnedOnAndAlbumNamesAreOneUsersEach) {
  EXPECT_FALSE(store_->SharingOf(alice_).shared);
  EXPECT_FALSE(store_->SharedAlbum("alice"));
  EXPECT_EQ(store_->SetSharing(alice_, true, "").album, "alice");  // the user's name at first
  EXPECT_EQ(store_->SharedAlbum("alice"), alice_);
  EXPECT_FALSE(store_->SharedAlbum("bob"));  // bob's name, not shared

  struct Case {
    const char* what;
    int64_t user;
    std::string album;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {"a name of letters", alice_, "alice-photos", true},
      {"Korean", alice_, "앨범", true},
      {"another user's name", alice_, "bob", false},
      {"a space", alice_, "my album", false},
      {"a slash", alice_, "a/b", false},
      {"a percent sign", alice_, "100%", false},
      {"a question mark", alice_, "what?", false},
      {"dot dot", alice_, "..", false},
      {"too long", alice_, std::string(101, 'a'), false},
      {"another user's album", bob_, "앨범", false},
  };
  for (const auto& c : cases) {
    bool accepted = true;
    try {
      store_->SetSharing(c.user, true, c.album);
    } catch (const StoreError&) {
      accepted = false;
    }
    EXPECT_EQ(accepted, c.accepted) << c.what;
  }
  // The last accepted name is alice's; her old names find no one.
  EXPECT_EQ(store_->SharedAlbum("앨범"), alice_);
  EXPECT_FALSE(store_->SharedAlbum("alice"));
  EXPECT_FALSE(store_->SharedAlbum("alice-photos"));
  // Off keeps the name for later and finds no one.
  EXPECT_EQ(store_->SetSharing(alice_, false, "").album, "앨범");
  EXPECT_FALSE(store_->SharedAlbum("앨범"));
}

TEST_F(AlbumStoreTest, AReplacedFeedSecretFindsNoOne) {
  EXPECT_EQ(store_->FeedSecret(alice_), "");
  EXPECT_FALSE(store_->FeedOwner(""));
  store_->ReplaceFeedSecret(alice_, "first-secret-0123456789");
  EXPECT_EQ(store_->FeedOwner("first-secret-0123456789"), alice_);
  store_->ReplaceFeedSecret(alice_, "second-secret-0123456789");
  EXPECT_FALSE(store_->FeedOwner("first-secret-0123456789"));
  EXPECT_EQ(store_->FeedOwner("second-secret-0123456789"), alice_);
  EXPECT_THROW(store_->ReplaceFeedSecret(bob_, "second-secret-0123456789"), StoreError);  // one user's each
  EXPECT_FALSE(store_->SharingOf(alice_).shared);  // a feed address shares nothing
}

TEST(AlbumMigrationTest, AFolderOfTheLayoutBeforeSharingIsBroughtUpToDate) {
  TempDir dir;
  {
    SqliteStore store(dir.path());
    store.AddAccount("alice", "alice-tb");
  }
  {
    // As the previous layout left it: no sharing table, no public indexes.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path() / "torvo.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE sharing; DROP INDEX images_public_newest; DROP INDEX images_public_by_folder; DROP INDEX images_public_pictures;"
                               "PRAGMA user_version = 2",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  SqliteStore store(dir.path());
  int64_t alice = store.FindUserByName("alice")->id;
  EXPECT_FALSE(store.SharingOf(alice).shared);
  store.SetSharing(alice, true, "");
  EXPECT_EQ(store.SharedAlbum("alice"), alice);
}

TEST(AlbumTextTest, FeedTextIsXmlWhateverThePageHeld) {
  struct Case {
    std::string in, out;
  };
  for (const auto& c : std::vector<Case>{{"<img src=x onerror=alert(1)>", "&lt;img src=x onerror=alert(1)&gt;"},
                                         {"a & b \"c\" 'd'", "a &amp; b &quot;c&quot; &#39;d&#39;"},
                                         {std::string("bell\x07 nul\x01 tab\tline\n", 21), "bell nul tab\tline\n"},
                                         {"]]> 한글", "]]&gt; 한글"}}) {
    EXPECT_EQ(EscapeXml(c.in), c.out);
  }
  setenv("TZ", "Asia/Seoul", 1);
  tzset();
  EXPECT_EQ(AtomTime("2026-12-09 14:30:05"), "2026-12-09T05:30:05Z");
  EXPECT_EQ(AtomTime("not a time"), "1970-01-01T00:00:00Z");
  unsetenv("TZ");
  tzset();
}

// The real service: alice shares, bob does not, carol has no album at all.
class AlbumWebTest : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::time_t now = 1'700'000'000;
      auto opened = OpenTestStore(dir_.path(), [&now] { return now++; });
      Store& timed = *opened;
      alice_ = timed.AddAccount("alice", "alice-tb").id;
      int64_t bob = timed.AddAccount("bob", "bob-tb").id;
      auto add = [&](int64_t user, bool isPublic, const std::string& title, const std::string& note) {
        NewImage fields;
        fields.isPublic = isPublic;
        fields.url = "https://example.com/" + std::to_string(now);
        fields.title = title;
        fields.note = note;
        return timed.AddImage(user, fields, MakePng(90, isPublic ? 'p' : 's')).id;
      };
      public_ = add(alice_, true, "<img src=x onerror=alert(1)> & friends", "<script>alert(2)</script>");
      private_ = add(alice_, false, "Hidden diary", "zanzibar");
      bobs_ = add(bob, true, "Bob's page", "bob words");
      timed.SetSharing(alice_, true, "");
      timed.SetSharing(bob, false, "");
      timed.ReplaceFeedSecret(alice_, "alice-feed-secret-0123456789");
    }
    std::ofstream(dir_.path() / "pw") << "alice's password\n";
    ASSERT_EQ(RunCommand({"user", "passwd", "--data", dir_.path().string(), "alice", "--password-file",
                          (dir_.path() / "pw").string()}).exitCode, 0);
    service_.emplace(dir_.path());
    origin_ = "http://127.0.0.1:" + std::to_string(service_->port());
  }
  void TearDown() override { EXPECT_EQ(service_->Stop(), 0); }

  httplib::Result Get(const std::string& path) {
    httplib::Client client("127.0.0.1", service_->port());
    client.set_read_timeout(10, 0);
    return client.Get(path);
  }

  TempDir dir_;
  int64_t alice_ = 0, public_ = 0, private_ = 0, bobs_ = 0;
  std::optional<ServiceProcess> service_;
  std::string origin_;
};

TEST_F(AlbumWebTest, EveryRoadToWhatIsNotSharedAnswersTheSame404) {
  auto missing = Get("/u/nobody-at-all/");
  ASSERT_TRUE(missing);
  ASSERT_EQ(missing->status, 404);
  std::string pub = std::to_string(public_), priv = std::to_string(private_), bobs = std::to_string(bobs_);
  const std::vector<std::string> roads = {
      "/u/bob/",                        // a user who does not share
      "/u/bob/wall",
      "/u/bob/feed.atom",
      "/u/bob/e/" + bobs,
      "/u/bob/thumb/" + bobs + ".png",
      "/u/alice/e/" + priv,             // a private entry by its id
      "/u/alice/thumb/" + priv + ".png",
      "/u/alice/e/" + bobs,             // another user's entry under this album
      "/u/alice/thumb/" + bobs + ".png",
      "/u/alice/e/99999",
      "/u/alice/nothing",
      "/u/%EC%97%86%EC%9D%8C/",         // a Korean name that is no album
      "/feed/not-the-secret-0123456789.atom",
      "/feed/not-the-secret-0123456789/thumb/" + priv + ".png",
      "/feed/alice-feed-secret-0123456789/thumb/" + bobs + ".png",
  };
  for (const auto& road : roads) {
    auto reply = Get(road);
    ASSERT_TRUE(reply) << road;
    EXPECT_EQ(reply->status, 404) << road;
    EXPECT_EQ(reply->body, missing->body) << road;
    EXPECT_EQ(reply->get_header_value("Cache-Control"), "no-store") << road;
    EXPECT_FALSE(reply->has_header("Set-Cookie")) << road;
  }
  // No search word a private entry alone holds finds it, nor does its title reach any public page.
  for (const char* path : {"/u/alice/?q=zanzibar", "/u/alice/?q=diary", "/u/alice/", "/u/alice/wall",
                                  "/u/alice/feed.atom", "/u/alice/feed.atom?q=zanzibar"}) {
    auto reply = Get(path);
    ASSERT_TRUE(reply) << path;
    EXPECT_EQ(reply->status, 200) << path;
    EXPECT_EQ(reply->body.find("Hidden diary"), std::string::npos) << path;
    EXPECT_EQ(reply->body.find("/" + priv + ".png"), std::string::npos) << path;
    EXPECT_EQ(reply->body.find("Bob"), std::string::npos) << path;
  }
}

TEST_F(AlbumWebTest, PublicAnswersAreNeverCachedCarryThePolicyAndEscapeWhatPagesHeld) {
  std::string pub = std::to_string(public_);
  struct Case {
    std::string path, type;
  };
  const std::vector<Case> cases = {
      {"/u/alice/", "text/html; charset=utf-8"},
      {"/u/alice", "text/html; charset=utf-8"},
      {"/u/alice/wall", "text/html; charset=utf-8"},
      {"/u/alice/e/" + pub, "text/html; charset=utf-8"},
      {"/u/alice/thumb/" + pub + ".png", "image/png"},
      {"/u/alice/feed.atom", "application/atom+xml; charset=utf-8"},
      {"/u/alice/feed.atom?folder=0&q=friends", "application/atom+xml; charset=utf-8"},
      {"/feed/alice-feed-secret-0123456789.atom", "application/atom+xml; charset=utf-8"},
  };
  for (const auto& c : cases) {
    auto reply = Get(c.path);
    ASSERT_TRUE(reply) << c.path;
    EXPECT_EQ(reply->status, 200) << c.path;
    EXPECT_EQ(reply->get_header_value("Content-Type"), c.type) << c.path;
    EXPECT_EQ(reply->get_header_value("Cache-Control"), "no-store") << c.path;
    EXPECT_FALSE(reply->has_header("Set-Cookie")) << c.path;
    EXPECT_NE(reply->get_header_value("Content-Security-Policy").find("script-src 'self'"), std::string::npos) << c.path;
    EXPECT_EQ(reply->body.find("<script>"), std::string::npos) << c.path;
    EXPECT_EQ(reply->body.find("<img src=x"), std::string::npos) << c.path;
  }
  auto entry = Get("/u/alice/e/" + pub);
  EXPECT_NE(entry->body.find("<meta property=\"og:image\" content=\"" + origin_ + "/u/alice/thumb/" + pub + ".png\">"),
            std::string::npos);
  EXPECT_NE(entry->body.find("<meta property=\"og:title\" content=\"&lt;img src=x onerror=alert(1)&gt; &amp; friends\">"),
            std::string::npos);
  // The private feed holds every entry of alice's, none of bob's.
  auto feed = Get("/feed/alice-feed-secret-0123456789.atom");
  EXPECT_NE(feed->body.find("Hidden diary"), std::string::npos);
  EXPECT_EQ(feed->body.find("Bob"), std::string::npos);
  auto picture = Get("/feed/alice-feed-secret-0123456789/thumb/" + std::to_string(private_) + ".png");
  EXPECT_EQ(picture->status, 200);
  EXPECT_EQ(picture->body, MakePng(90, 's'));
  // Through a TLS proxy the absolute addresses are https ones of the proxy's host.
  httplib::Client client("127.0.0.1", service_->port());
  auto proxied = client.Get("/u/alice/e/" + pub, {{"Host", "torvo.example"}, {"X-Forwarded-Proto", "https"}});
  ASSERT_TRUE(proxied);
  EXPECT_NE(proxied->body.find("content=\"https://torvo.example/u/alice/thumb/" + pub + ".png\""), std::string::npos);
  // With the address visitors reach the service at given, absolute addresses start with it.
  ASSERT_EQ(service_->Stop(), 0);
  service_.emplace(dir_.path(), std::vector<std::string>{"--public-address", "https://example.org/torvo/"});
  auto named = Get("/u/alice/feed.atom");
  ASSERT_TRUE(named);
  EXPECT_NE(named->body.find("<link rel=\"enclosure\" type=\"image/png\" length=\"90\" href=\"https://example.org/torvo/u/alice/thumb/" +
                             pub + ".png\"/>"),
            std::string::npos)
      << named->body;
}

TEST_F(AlbumWebTest, SettingsTurnSharingOffAndReplaceThePrivateFeed) {
  httplib::Client client("127.0.0.1", service_->port());
  auto signedIn = client.Post("/signin", {{"Origin", origin_}}, "name=alice&password=alice%27s+password",
                              "application/x-www-form-urlencoded");
  ASSERT_TRUE(signedIn);
  ASSERT_EQ(signedIn->status, 303);
  std::string cookie = signedIn->get_header_value("Set-Cookie");
  cookie = cookie.substr(0, cookie.find(';'));
  auto settings = client.Get("/settings", {{"Cookie", cookie}});
  std::smatch csrf;
  ASSERT_TRUE(std::regex_search(settings->body, csrf, std::regex("name=\"csrf\" value=\"([^\"]+)\"")));
  EXPECT_NE(settings->body.find("href=\"" + origin_ + "/u/alice/\""), std::string::npos);
  EXPECT_NE(settings->body.find(origin_ + "/feed/alice-feed-secret-0123456789.atom"), std::string::npos);

  auto post = [&](const std::string& path, const std::string& body) {
    return client.Post(path, {{"Cookie", cookie}, {"Origin", origin_}}, body, "application/x-www-form-urlencoded");
  };
  ASSERT_EQ(post("/settings/feed-address", "csrf=" + csrf[1].str())->status, 303);
  EXPECT_EQ(Get("/feed/alice-feed-secret-0123456789.atom")->status, 404);
  std::smatch feed;
  std::string after = client.Get("/settings", {{"Cookie", cookie}})->body;
  ASSERT_TRUE(std::regex_search(after, feed, std::regex("/feed/([A-Za-z0-9_-]+)\\.atom")));
  EXPECT_EQ(Get("/feed/" + feed[1].str() + ".atom")->status, 200);

  // A form from elsewhere changes nothing; sharing off then answers 404 everywhere.
  auto foreign = client.Post("/settings/sharing", {{"Cookie", cookie}, {"Origin", "http://evil.example"}},
                             "csrf=" + csrf[1].str(), "application/x-www-form-urlencoded");
  EXPECT_EQ(foreign->status, 403);
  EXPECT_EQ(Get("/u/alice/")->status, 200);
  ASSERT_EQ(post("/settings/sharing", "csrf=" + csrf[1].str() + "&album=alice")->status, 303);
  for (const std::string& path : std::vector<std::string>{"/u/alice/", "/u/alice/feed.atom", "/u/alice/thumb/" + std::to_string(public_) + ".png"}) {
    EXPECT_EQ(Get(path)->status, 404) << path;
  }
  EXPECT_EQ(post("/settings/sharing", "csrf=" + csrf[1].str() + "&shared=1&album=bob")->status, 400);  // bob's name
  ASSERT_EQ(post("/settings/sharing", "csrf=" + csrf[1].str() + "&shared=1&album=%EC%95%A8%EB%B2%94")->status, 303);
  EXPECT_EQ(Get("/u/%EC%95%A8%EB%B2%94/")->status, 200);
  EXPECT_EQ(Get("/u/alice/")->status, 404);
}

}  // namespace
}  // namespace torvo::service
