// Devices: ToolbarIDs got by signing in, each revoked alone, in the store and through the real
// service.
#include <arpa/inet.h>
#include <httplib.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sqlite3.h>

#include <algorithm>
#include <regex>

#include "service/store/accounts.h"
#include "service/store/sqlite_store.h"
#include "service_fixture.h"

namespace torvo::service::testing {
namespace {

TEST(StoreDevices, LastUseIsWrittenAtMostOnceAMinute) {
  TempDir dir;
  std::time_t now = 1000000;
  auto opened = OpenTestStore(dir.path(), [&now] { return now; });
  Store& store = *opened;
  User alice = store.AddAccount("alice", "alice-first");
  Device device = store.AddDevice(alice.id, "laptop", "laptop-id");
  EXPECT_EQ(device.created, 1000000);
  EXPECT_EQ(store.Devices(alice.id)[0].lastUsed, 0);  // never used yet
  struct Case {
    std::time_t at, lastUsed;
  };
  const Case cases[] = {
      {1000000, 1000000},  // the first use is noted
      {1000030, 1000000},  // within the minute: no write
      {1000059, 1000000},
      {1000060, 1000060},
      {1000061, 1000060},
      {999000, 999000},  // the clock went back: noted, or it would stay silent for the gap
  };
  for (const auto& c : cases) {
    now = c.at;
    auto user = store.FindDeviceUser("laptop-id");
    ASSERT_TRUE(user);
    EXPECT_EQ(user->id, alice.id);
    EXPECT_EQ(user->identity, "laptop-id");
    EXPECT_EQ(store.Devices(alice.id)[0].lastUsed, c.lastUsed) << "at " << c.at;
  }
}

TEST(StoreDevices, RevokingOneLeavesTheOthersAndNeverGivesItAgain) {
  TempDir dir;
  auto opened = OpenTestStore(dir.path());
  Store& store = *opened;
  User alice = store.AddAccount("alice", "alice-first");
  User bob = store.AddAccount("bob", "bob-first");
  Device laptop = store.AddDevice(alice.id, "laptop", "laptop-id");
  store.AddDevice(alice.id, "", "phone-id");
  EXPECT_EQ(store.Devices(alice.id)[1].name, "device");

  EXPECT_FALSE(store.RevokeDevice(bob.id, laptop.id));  // not bob's to revoke
  EXPECT_TRUE(store.RevokeDevice(alice.id, laptop.id));
  EXPECT_FALSE(store.RevokeDevice(alice.id, laptop.id));
  EXPECT_FALSE(store.FindDeviceUser("laptop-id"));
  auto revoked = store.FindUser("laptop-id");
  ASSERT_TRUE(revoked);
  EXPECT_FALSE(revoked->signedIn);
  EXPECT_TRUE(store.FindDeviceUser("phone-id")->signedIn);
  EXPECT_TRUE(store.FindUser("alice-first")->signedIn);
  EXPECT_FALSE(store.RevokeDevice("alice-first"));  // the user's own ToolbarID is no device's
  EXPECT_TRUE(store.RevokeDevice("phone-id"));
  EXPECT_TRUE(store.Devices(alice.id).empty());

  // A ToolbarID is never handed out twice, whoever held it.
  for (const char* taken : {"laptop-id", "alice-first", "bob-first"}) {
    EXPECT_THROW(store.AddDevice(bob.id, "x", taken), StoreError) << taken;
  }
  store.AddDevice(bob.id, "x", "bob-device");
  EXPECT_THROW(store.AddAccount("carol", "bob-device"), StoreError);
  EXPECT_THROW(store.ReplaceToolbarId(alice.id, "bob-device"), StoreError);
  // A signed-out user's devices are signed out with them.
  store.SetSignedIn("bob-first", false);
  EXPECT_FALSE(store.FindDeviceUser("bob-device")->signedIn);
}

TEST(StoreDevices, DeviceNames) {
  struct Case {
    std::string given;
    std::optional<std::string> kept;
  };
  const Case cases[] = {
      {"", "device"},
      {"노트북 (집)", "노트북 (집)"},
      {std::string(100, 'a'), std::string(100, 'a')},
      {std::string(101, 'a'), std::nullopt},
      {"two\nlines", std::nullopt},
      {"tab\there", std::nullopt},
      {"\xB3\xEB\xC6\xAE", std::nullopt},  // code page 949, not UTF-8
  };
  for (const auto& c : cases) {
    if (c.kept) {
      EXPECT_EQ(Store::DeviceName(c.given), *c.kept);
    } else {
      EXPECT_THROW(Store::DeviceName(c.given), StoreError) << c.given;
    }
  }
}

TEST(StoreDevices, AFolderOfThePreviousLayoutGainsDevices) {
  TempDir dir;
  {
    SqliteStore store(dir.path());
    store.AddAccount("alice", "alice-first");
  }
  // Back to the layout before devices, as the previous release left it.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir.path() / "torvo.sqlite").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "DROP TABLE devices; PRAGMA user_version = 1", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);

  SqliteStore store(dir.path());
  auto alice = store.FindUser("alice-first");
  ASSERT_TRUE(alice);
  EXPECT_TRUE(alice->signedIn);  // today's ToolbarID stays valid
  store.AddDevice(alice->id, "laptop", "laptop-id");
  EXPECT_EQ(store.FindDeviceUser("laptop-id")->id, alice->id);
}

// An IPv4 address of this machine that is not loopback; empty when it has none.
std::string OtherAddress() {
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return {};
  std::string found;
  for (ifaddrs* item = all; item && found.empty(); item = item->ifa_next) {
    if (!item->ifa_addr || item->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(item->ifa_addr)->sin_addr, text, sizeof text);
    if (!std::string(text).starts_with("127.")) found = text;
  }
  freeifaddrs(all);
  return found;
}

// alice and bob with passwords, and the real service.
class Devices : public ServiceTest {
 protected:
  void SetUp() override {
    ServiceTest::SetUp();
    auto opened = OpenTestStore(dir_.path());
    Store& store = *opened;
    for (const char* name : {"alice", "bob"}) {
      User user = store.AddAccount(name, std::string(name) + "-first");
      store.SetPasswordHash(user.id, HashPassword(std::string(name) + "'s password"));
    }
  }

  httplib::Client Client() {
    httplib::Client client("127.0.0.1", port());
    client.set_read_timeout(10, 0);
    return client;
  }
  httplib::Result Post(const std::string& path, const std::string& body,
                       const std::string& type = "application/x-www-form-urlencoded", httplib::Headers headers = {}) {
    return Client().Post(path, headers, body, type);
  }
  // A new device's ToolbarID; empty when the sign-in failed.
  std::string SignIn(const std::string& name, const std::string& device = "laptop") {
    auto reply = Post("/deviceSignIn.php", "name=" + name + "&password=" + name + "%27s+password&device=" + device);
    std::smatch match;
    if (!reply || reply->status != 200 ||
        !std::regex_search(reply->body, match, std::regex(R"re("identity":"([A-Za-z0-9_-]+)")re"))) {
      return {};
    }
    return match[1];
  }
  std::string UploadAs(const std::string& tid, char seed) {
    UploadFields fields;
    fields.tid = tid;
    return Upload(fields, MakePng(500, seed)).body;
  }
  // A session cookie of the web page and its form token.
  std::pair<std::string, std::string> PageSession(const std::string& name) {
    auto reply = Post("/signin", "name=" + name + "&password=" + name + "%27s+password", "application/x-www-form-urlencoded",
                      {{"Origin", Base()}});
    if (!reply || reply->status != 303) return {};
    std::string cookie = reply->get_header_value("Set-Cookie");
    cookie = cookie.substr(0, cookie.find(';'));
    auto page = Client().Get("/settings", {{"Cookie", cookie}});
    std::smatch match;
    if (!page || !std::regex_search(page->body, match, std::regex("name=\"csrf\" value=\"([^\"]+)\""))) return {};
    return {cookie, match[1]};
  }
};

TEST_F(Devices, SignInExchange) {
  Start();
  const std::string kType = "application/x-www-form-urlencoded";
  struct Case {
    const char* what;
    std::string body, type;
    int status;
    std::string reply;  // a regular expression
  };
  const Case cases[] = {
      {"success", "name=alice&password=alice%27s+password&device=%EB%85%B8%ED%8A%B8%EB%B6%81", kType, 200,
       R"(\{"torvo":1,"identity":"[A-Za-z0-9_-]{32}","name":"alice"\})"},
      {"wrong password", "name=alice&password=wrong&device=x", kType, 401, R"(\{"torvo":1,"error":"credentials"\})"},
      {"unknown name", "name=nobody&password=alice%27s+password", kType, 401, R"(\{"torvo":1,"error":"credentials"\})"},
      {"no password field", "name=alice", kType, 400, R"(\{"torvo":1,"error":"request","message":".*password.*"\})"},
      {"empty name", "name=&password=x", kType, 400, R"(\{"torvo":1,"error":"request","message":".+"\})"},
      {"device too long", "name=alice&password=x&device=" + std::string(101, 'a'), kType, 400,
       R"(\{"torvo":1,"error":"request","message":".*100 bytes.*"\})"},
      {"device with a line break", "name=alice&password=x&device=a%0Ab", kType, 400, R"(.*"error":"request".*)"},
      {"not a form", R"({"name":"alice"})", "application/json", 400, R"(.*"error":"request".*application/json.*)"},
  };
  for (const auto& c : cases) {
    auto reply = Post("/deviceSignIn.php", c.body, c.type);
    ASSERT_TRUE(reply) << c.what;
    EXPECT_EQ(reply->status, c.status) << c.what;
    EXPECT_TRUE(std::regex_match(reply->body, std::regex(c.reply))) << c.what << ": " << reply->body;
    EXPECT_EQ(reply->get_header_value("Content-Type"), "application/json; charset=utf-8") << c.what;
  }
  // The device answered its ToolbarID, which the exchanges take; the failures added none.
  auto opened = OpenTestStore(dir_.path());
  Store& store = *opened;
  auto devices = store.Devices(store.FindUserByName("alice")->id);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].name, "노트북");
  EXPECT_EQ(Get("/imgList.php?state=geturi&tid=" + devices[0].toolbarId).body, "127.0.0.1");
  // The absolute form of the request line, as a proxy may pass it on.
  auto absolute = Post(Base() + "/deviceSignIn.php", "name=bob&password=bob%27s+password");
  ASSERT_TRUE(absolute);
  EXPECT_EQ(absolute->status, 200);
}

TEST_F(Devices, WrongPasswordsOnThePageAndTheExchangeCountTogether) {
  Start();
  auto page = [&](const std::string& password) {
    return Post("/signin", "name=alice&password=" + password, "application/x-www-form-urlencoded",
                {{"Origin", Base()}})->status;
  };
  auto exchange = [&](const std::string& password) {
    return Post("/deviceSignIn.php", "name=alice&password=" + password);
  };
  EXPECT_EQ(page("wrong1"), 401);
  EXPECT_EQ(exchange("wrong2")->status, 401);
  EXPECT_EQ(page("wrong3"), 401);
  // Three failures are free; the fourth attempt waits, wherever it comes, right password or not.
  auto slowed = exchange("alice%27s+password");
  ASSERT_TRUE(slowed);
  EXPECT_EQ(slowed->status, 429);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(slowed->body, match, std::regex(R"(\{"torvo":1,"error":"slowed","retryAfter":(\d+)\})")))
      << slowed->body;
  EXPECT_GE(std::stoi(match[1]), 1);
  EXPECT_LE(std::stoi(match[1]), 4);
  EXPECT_EQ(slowed->get_header_value("Retry-After"), match[1].str());
  EXPECT_EQ(page("alice%27s+password"), 429);
  auto opened = OpenTestStore(dir_.path());
  Store& store = *opened;
  EXPECT_TRUE(store.Devices(store.FindUserByName("alice")->id).empty());
}

TEST_F(Devices, SignedOutDeviceReadsAsSignedOutEverywhere) {
  Start();
  const std::string device = SignIn("alice");
  ASSERT_FALSE(device.empty());
  ASSERT_TRUE(IsStoredName(UploadAs(device, 'a')));
  const std::string image = Get("/imgList.php?tid=" + device).body;
  ASSERT_TRUE(std::regex_match(image, std::regex(Base() + "/img/" + device + R"(\|\d{14})"))) << image;
  const std::string download = "/img/" + device + "/" + image.substr(image.find('|') + 1) + ".png";
  EXPECT_EQ(Get(download).status, 200);

  struct Case {
    const char* what;
    std::string body;
    int status;
    std::string reply;
  };
  const Case cases[] = {
      {"no tid", "device=x", 400, R"({"torvo":1,"error":"request","message":"the form needs the field tid"})"},
      {"the user's own ToolbarID", "tid=alice-first", 200, R"({"torvo":1,"revoked":false})"},
      {"the device", "tid=" + device, 200, R"({"torvo":1,"revoked":true})"},
      {"the device again", "tid=" + device, 200, R"({"torvo":1,"revoked":false})"},
      {"unknown", "tid=nobody", 200, R"({"torvo":1,"revoked":false})"},
  };
  for (const auto& c : cases) {
    auto reply = Post("/deviceSignOut.php", c.body);
    ASSERT_TRUE(reply) << c.what;
    EXPECT_EQ(reply->status, c.status) << c.what;
    EXPECT_EQ(reply->body, c.reply) << c.what;
  }
  EXPECT_EQ(Get("/imgList.php?state=geturi&tid=" + device).body, "0");
  EXPECT_EQ(Get("/imgList.php?tid=" + device).body, "0");
  EXPECT_EQ(UploadAs(device, 'b'), "idnotfind");
  EXPECT_EQ(Get(download).status, 403);
  // The user's own ToolbarID was never a device's: it still works.
  EXPECT_EQ(Get("/imgList.php?state=geturi&tid=alice-first").body, "127.0.0.1");
}

TEST_F(Devices, TwoDevicesUploadAndRevokingOneSignsOutThatOneAlone) {
  Start();
  const std::string laptop = SignIn("alice", "laptop");
  const std::string phone = SignIn("alice", "phone");
  const std::string bobs = SignIn("bob", "bob%27s");
  ASSERT_FALSE(laptop.empty());
  ASSERT_FALSE(phone.empty());
  ASSERT_FALSE(bobs.empty());
  EXPECT_NE(laptop, phone);
  for (const auto& [tid, seed] : {std::pair{laptop, 'l'}, {phone, 'p'}, {std::string("alice-first"), 'f'}, {bobs, 'b'}}) {
    EXPECT_TRUE(IsStoredName(UploadAs(tid, seed))) << tid;
  }
  // One album for alice, whichever of her ToolbarIDs asks; bob's holds his own alone.
  const std::string aliceList = Get("/imgList.php?tid=" + phone).body;
  EXPECT_EQ(std::count(aliceList.begin(), aliceList.end(), '|'), 3) << aliceList;
  const std::string bobList = Get("/imgList.php?tid=" + bobs).body;
  ASSERT_EQ(std::count(bobList.begin(), bobList.end(), '|'), 1) << bobList;
  auto opened = OpenTestStore(dir_.path());
  Store& store = *opened;
  auto aliceImages = store.Images(store.FindUserByName("alice")->id);
  ASSERT_EQ(aliceImages.size(), 3u);
  for (const auto& image : aliceImages) {
    EXPECT_EQ(Get("/img/" + bobs + "/" + image.name + ".png").status, 404) << "bob's device reached " << image.name;
    EXPECT_EQ(Get("/img/" + laptop + "/" + image.name + ".png").status, 200);
  }

  // alice revokes the laptop on the settings page; bob cannot revoke her phone there.
  auto [cookie, csrf] = PageSession("alice");
  ASSERT_FALSE(csrf.empty());
  auto settings = Client().Get("/settings", {{"Cookie", cookie}});
  ASSERT_TRUE(settings);
  EXPECT_NE(settings->body.find(">laptop</td>"), std::string::npos);
  EXPECT_NE(settings->body.find(">phone</td>"), std::string::npos);
  EXPECT_EQ(settings->body.find("bob&#39;s"), std::string::npos);
  auto devices = store.Devices(store.FindUserByName("alice")->id);
  ASSERT_EQ(devices.size(), 2u);
  const std::string laptopPath = "/settings/devices/" + std::to_string(devices[0].id) + "/revoke";
  const std::string phonePath = "/settings/devices/" + std::to_string(devices[1].id) + "/revoke";
  auto [bobCookie, bobCsrf] = PageSession("bob");
  const httplib::Headers fromHere = {{"Origin", Base()}};
  struct Case {
    const char* what;
    std::string path, cookie, csrf;
    httplib::Headers headers;
    int status;
  };
  const Case cases[] = {
      {"another site's form", laptopPath, cookie, csrf, {{"Origin", "http://evil.example"}}, 403},
      {"no form token", laptopPath, cookie, "", fromHere, 403},
      {"bob's session", phonePath, bobCookie, bobCsrf, fromHere, 404},
      {"alice", laptopPath, cookie, csrf, fromHere, 303},
      {"alice again", laptopPath, cookie, csrf, fromHere, 404},
  };
  for (const auto& c : cases) {
    httplib::Headers headers = c.headers;
    headers.emplace("Cookie", c.cookie);
    auto reply = Post(c.path, "csrf=" + c.csrf, "application/x-www-form-urlencoded", headers);
    ASSERT_TRUE(reply) << c.what;
    EXPECT_EQ(reply->status, c.status) << c.what;
  }
  EXPECT_EQ(UploadAs(laptop, 'm'), "idnotfind");
  EXPECT_TRUE(IsStoredName(UploadAs(phone, 'n')));
  EXPECT_TRUE(IsStoredName(UploadAs(bobs, 'o')));
  settings = Client().Get("/settings", {{"Cookie", cookie}});
  EXPECT_EQ(settings->body.find(">laptop</td>"), std::string::npos);
  EXPECT_NE(settings->body.find(">phone</td>"), std::string::npos);
}

TEST_F(Devices, AdministrationCommands) {
  const std::string data = dir_.path().string();
  CommandResult added = RunCommand({"device", "add", "--data", data, "alice", "--device", "script"});
  ASSERT_EQ(added.exitCode, 0) << added.out;
  std::smatch match;
  ASSERT_TRUE(std::regex_search(added.out, match, std::regex("added device (\\d+) .*\nToolbarID ([A-Za-z0-9_-]+)\n")))
      << added.out;
  const std::string id = match[1], tid = match[2];
  CommandResult listed = RunCommand({"device", "list", "--data", data, "alice"});
  EXPECT_TRUE(std::regex_search(listed.out, std::regex("\n" + id + "\tscript\t[0-9: -]{19}\tnever\t" + tid + "\n")))
      << listed.out;
  Start();
  EXPECT_EQ(Get("/imgList.php?state=geturi&tid=" + tid).body, "127.0.0.1");
  EXPECT_NE(RunCommand({"device", "revoke", "--data", data, "bob", id}).exitCode, 0);  // not bob's
  EXPECT_EQ(RunCommand({"device", "revoke", "--data", data, "alice", id}).exitCode, 0);
  EXPECT_EQ(Get("/imgList.php?state=geturi&tid=" + tid).body, "0");  // while the service runs
  EXPECT_EQ(RunCommand({"device", "list", "--data", data, "alice"}).out, "id\tdevice\tcreated\tlast used\tToolbarID\n");
}

TEST_F(Devices, TheAddressToEnter) {
  std::string cookie;  // the session outlives a restart of the service: one sign-in for all
  auto shown = [&](const httplib::Headers& extra) {
    if (cookie.empty()) cookie = PageSession("alice").first;
    httplib::Headers headers = extra;
    headers.emplace("Cookie", cookie);
    auto page = Client().Get("/settings", headers);
    std::smatch match;
    if (!page || !std::regex_search(page->body, match, std::regex("<code id=\"service-address\">([^<]*)</code>"))) {
      return std::string("(none)");
    }
    return match[1].str();
  };
  Start();
  EXPECT_EQ(shown({}), Base() + "/");
  // A proxy on this machine says how the browser reached it.
  EXPECT_EQ(shown({{"X-Forwarded-Proto", "https"}, {"X-Forwarded-Host", "torvo.example.org"}}),
            "https://torvo.example.org/");
  EXPECT_EQ(shown({{"Host", "home.lan:8765"}}), "http://home.lan:8765/");
  service_->Stop();

  Start({"--public-address", "https://example.org:8443/torvo"});
  EXPECT_EQ(shown({{"X-Forwarded-Host", "elsewhere"}}), "https://example.org:8443/torvo/");
  EXPECT_EQ(Get("/imgList.php?state=geturi&tid=alice-first").body, "example.org");
  EXPECT_EQ(Get("/imgList.php?tid=alice-first").body, "https://example.org:8443/torvo/img/alice-first");
  service_->Stop();

  Start({"--public-address", "https://example.org/torvo/", "--upload-host", "up.example.org", "--image-base",
         "http://img.example.org"});
  EXPECT_EQ(Get("/imgList.php?state=geturi&tid=alice-first").body, "up.example.org");
  EXPECT_EQ(Get("/imgList.php?tid=alice-first").body, "http://img.example.org/img/alice-first");
  EXPECT_EQ(shown({}), "https://example.org/torvo/");

  for (const char* bad : {"example.org", "ftp://example.org/", "https:///torvo/", "https://example.org:0/",
                          "https://example.org:99999/", "https://example.org/?q", "https://user@example.org/"}) {
    CommandResult refused = RunCommand({"--data", dir_.path().string(), "--port", "0", "--public-address", bad});
    EXPECT_EQ(refused.exitCode, 2) << bad << ": " << refused.out;
  }
}

// A client elsewhere could claim any scheme and host: only a proxy on this machine is believed.
TEST_F(Devices, ForwardedHeadersCountFromThisMachineOnly) {
  const std::string other = OtherAddress();
  if (other.empty()) GTEST_SKIP() << "this machine has no address but loopback";
  Start({"--bind", "0.0.0.0"});
  const std::string cookie = PageSession("alice").first;
  ASSERT_FALSE(cookie.empty());
  httplib::Client client(other, port());
  client.set_read_timeout(10, 0);
  auto page = client.Get("/settings", {{"Cookie", cookie}, {"X-Forwarded-Proto", "https"}, {"X-Forwarded-Host", "evil.example"}});
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("<code id=\"service-address\">http://" + other + ":" + std::to_string(port()) + "/</code>"),
            std::string::npos);
  EXPECT_EQ(page->body.find("evil.example"), std::string::npos);
}

}  // namespace
}  // namespace torvo::service::testing
