#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>
#include <regex>

#include "service/store/store.h"
#include "test_store.h"
#include "service_process.h"

namespace torvo::service {
namespace {

using testing::CommandResult;
using testing::OpenTestStore;
using testing::RunCommand;
using testing::ServiceProcess;
using testing::TempDir;

// The real service with alice (a password) and old (a user from before the web page, none).
class WebTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = dir_.path().string();
    std::ofstream(dir_.path() / "pw") << "alice's password\n";
    CommandResult added = RunCommand({"user", "add", "--data", data_, "alice", "--password-file", (dir_.path() / "pw").string()});
    ASSERT_EQ(added.exitCode, 0) << added.out;
    std::smatch match;
    ASSERT_TRUE(std::regex_search(added.out, match, std::regex("ToolbarID ([A-Za-z0-9_-]+)\n"))) << added.out;
    toolbarId_ = match[1];
    ASSERT_EQ(RunCommand({"user", "add", "--data", data_, "old", "--toolbar-id", "old"}).exitCode, 0);
    service_.emplace(dir_.path());
    origin_ = "http://127.0.0.1:" + std::to_string(service_->port());
  }
  void TearDown() override { EXPECT_EQ(service_->Stop(), 0); }

  httplib::Client Client() {
    httplib::Client client("127.0.0.1", service_->port());
    client.set_read_timeout(10, 0);
    return client;
  }
  // Signs alice in; returns the cookie for the next requests.
  std::string SignIn(const std::string& name = "alice", const std::string& password = "alice's password") {
    auto reply = Client().Post("/signin", {{"Origin", origin_}}, "name=" + name + "&password=" + password,
                               "application/x-www-form-urlencoded");
    if (!reply || reply->status != 303) return {};
    std::string cookie = reply->get_header_value("Set-Cookie");
    return cookie.substr(0, cookie.find(';'));
  }
  std::string Csrf(const std::string& cookie) {
    auto page = Client().Get("/settings", {{"Cookie", cookie}});
    std::smatch match;
    if (!page || !std::regex_search(page->body, match, std::regex("name=\"csrf\" value=\"([^\"]+)\""))) return {};
    return match[1];
  }

  TempDir dir_;
  std::string data_;
  std::string toolbarId_;
  std::string origin_;
  std::optional<ServiceProcess> service_;
};

TEST_F(WebTest, NewUsersGetARandomToolbarIdAndExchangesUseIt) {
  EXPECT_TRUE(std::regex_match(toolbarId_, std::regex("[A-Za-z0-9_-]{22,}"))) << toolbarId_;
  auto folders = Client().Get("/imgList.php?state=geturi&tid=" + toolbarId_);
  ASSERT_TRUE(folders);
  EXPECT_EQ(folders->body, "127.0.0.1");
  EXPECT_EQ(Client().Get("/imgList.php?state=geturi&tid=alice")->body, "0");  // the name is no ToolbarID
  CommandResult listed = RunCommand({"user", "list", "--data", data_});
  EXPECT_EQ(listed.out, "alice\tsigned in\tpassword\t" + toolbarId_ + "\nold\tsigned in\tno password\told\n");
}

TEST_F(WebTest, SignInNeedsAPasswordAndSetsACookieOnlyForThisSite) {
  EXPECT_EQ(SignIn("old", "anything at all"), "");  // no password: the exchanges only
  EXPECT_EQ(Client().Get("/imgList.php?state=geturi&tid=old")->body, "127.0.0.1");
  EXPECT_EQ(SignIn("nobody", "alice's password"), "");  // two failures: the third would slow this address

  auto reply = Client().Post("/signin", {{"Origin", origin_}}, "name=alice&password=alice%27s+password",
                             "application/x-www-form-urlencoded");
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->status, 303);
  EXPECT_EQ(reply->get_header_value("Location"), "/");
  std::string cookie = reply->get_header_value("Set-Cookie");
  EXPECT_TRUE(std::regex_match(cookie, std::regex("torvo_session=[A-Za-z0-9_-]{43}; Path=/; HttpOnly; SameSite=Lax; Max-Age=\\d+")))
      << cookie;
  // Through a TLS proxy the cookie travels over TLS only.
  auto secure = Client().Post("/signin", {{"Origin", "https://torvo.example"}, {"Host", "torvo.example"}, {"X-Forwarded-Proto", "https"}},
                              "name=alice&password=alice%27s+password", "application/x-www-form-urlencoded");
  ASSERT_TRUE(secure);
  EXPECT_EQ(secure->status, 303);
  EXPECT_TRUE(secure->get_header_value("Set-Cookie").ends_with("; Secure")) << secure->get_header_value("Set-Cookie");
  // From another site not even a sign-in is taken.
  auto foreign = Client().Post("/signin", {{"Origin", "http://evil.example"}}, "name=alice&password=alice%27s+password",
                               "application/x-www-form-urlencoded");
  EXPECT_EQ(foreign->status, 403);
  EXPECT_FALSE(foreign->has_header("Set-Cookie"));
}

TEST_F(WebTest, EveryPageCarriesItsSecurityHeaders) {
  std::string cookie = SignIn();
  ASSERT_NE(cookie, "");
  for (const char* path : {"/", "/signin", "/settings", "/folders", "/?q=%3Cscript%3E"}) {
    auto page = Client().Get(path, {{"Cookie", cookie}});
    ASSERT_TRUE(page) << path;
    std::string policy = page->get_header_value("Content-Security-Policy");
    EXPECT_NE(policy.find("script-src 'self'"), std::string::npos) << path;
    EXPECT_EQ(policy.find("unsafe-inline"), std::string::npos) << path;
    EXPECT_EQ(page->get_header_value("X-Frame-Options"), "DENY") << path;
    EXPECT_EQ(page->get_header_value("X-Content-Type-Options"), "nosniff") << path;
    EXPECT_EQ(page->body.find("<script>"), std::string::npos) << path;
  }
  auto search = Client().Get("/?q=%3Cscript%3Ealert(1)%3C%2Fscript%3E", {{"Cookie", cookie}});
  EXPECT_NE(search->body.find("value=\"&lt;script&gt;alert(1)&lt;/script&gt;\""), std::string::npos);
  // Signed out, the pages send to the sign-in.
  auto away = Client().Get("/settings");
  EXPECT_EQ(away->status, 303);
  EXPECT_EQ(away->get_header_value("Location"), "/signin");
}

TEST_F(WebTest, ChangesNeedThisSitesOriginAndTheSessionsToken) {
  std::string cookie = SignIn();
  std::string csrf = Csrf(cookie);
  ASSERT_NE(csrf, "");
  std::string otherToken = csrf;
  otherToken[0] = otherToken[0] == 'x' ? 'y' : 'x';
  struct Case {
    const char* what;
    httplib::Headers headers;
    std::string token;
    int status;
  };
  const std::vector<Case> cases = {
      {"another origin", {{"Origin", "http://127.0.0.1:1"}}, csrf, 403},
      {"neither origin nor referer", {}, csrf, 403},
      {"a referer of another site", {{"Referer", "http://evil.example/" }}, csrf, 403},
      {"no token", {{"Origin", origin_}}, "", 403},
      {"another token", {{"Origin", origin_}}, otherToken, 403},
      {"a referer of this site and the token", {{"Referer", origin_ + "/folders"}}, csrf, 303},
      {"this origin and the token", {{"Origin", origin_}}, csrf, 303},
  };
  int added = 0;
  for (const auto& c : cases) {
    httplib::Headers headers = c.headers;
    headers.emplace("Cookie", cookie);
    auto reply = Client().Post("/folders/add", headers, "csrf=" + c.token + "&name=f" + std::to_string(added),
                               "application/x-www-form-urlencoded");
    ASSERT_TRUE(reply) << c.what;
    EXPECT_EQ(reply->status, c.status) << c.what;
    if (reply->status == 303) ++added;
  }
  auto opened = OpenTestStore(dir_.path());
  Store& store = *opened;
  EXPECT_EQ(store.Folders(store.FindUserByName("alice")->id).size(), static_cast<size_t>(added));
  EXPECT_EQ(added, 2);
}

TEST_F(WebTest, ANewToolbarIdSignsTheOldOneOut) {
  std::string cookie = SignIn();
  std::string csrf = Csrf(cookie);
  auto reply = Client().Post("/settings/toolbar-id", {{"Origin", origin_}, {"Cookie", cookie}}, "csrf=" + csrf,
                             "application/x-www-form-urlencoded");
  ASSERT_EQ(reply->status, 303);
  auto opened = OpenTestStore(dir_.path());
  Store& store = *opened;
  std::string fresh = store.FindUserByName("alice")->identity;
  EXPECT_NE(fresh, toolbarId_);
  EXPECT_EQ(Client().Get("/imgList.php?state=geturi&tid=" + toolbarId_)->body, "0");
  EXPECT_EQ(Client().Get("/imgList.php?tid=" + toolbarId_)->body, "0");
  EXPECT_EQ(Client().Get("/imgList.php?state=geturi&tid=" + fresh)->body, "127.0.0.1");
}

TEST_F(WebTest, ListPagesHoldThirtyWithNextAndPrevious) {
  {
    auto opened = OpenTestStore(dir_.path());
  Store& store = *opened;
    int64_t alice = store.FindUserByName("alice")->id;
    for (int i = 0; i < 31; ++i) {
      store.AddEntry(alice, NewImage{0, true, "https://e.example/" + std::to_string(i), "entry " + std::to_string(i), ""},
                     1700000000 + i);
    }
  }
  std::string cookie = SignIn();
  auto count = [](const std::string& body) {
    size_t n = 0;
    for (size_t at = 0; (at = body.find("<li class=\"entry\"", at)) != std::string::npos; ++at) ++n;
    return n;
  };
  auto first = Client().Get("/", {{"Cookie", cookie}});
  EXPECT_EQ(count(first->body), 30u);
  EXPECT_NE(first->body.find("<a rel=\"next\" href=\"/?page=2\">"), std::string::npos);
  EXPECT_EQ(first->body.find("rel=\"prev\""), std::string::npos);
  EXPECT_NE(first->body.find(">entry 30<"), std::string::npos);  // newest first
  auto second = Client().Get("/?page=2", {{"Cookie", cookie}});
  EXPECT_EQ(count(second->body), 1u);
  EXPECT_NE(second->body.find(">entry 0<"), std::string::npos);
  EXPECT_NE(second->body.find("<a rel=\"prev\" href=\"/\">"), std::string::npos);
  EXPECT_EQ(second->body.find("rel=\"next\""), std::string::npos);
  // A search keeps its words from page to page.
  auto search = Client().Get("/?q=entry", {{"Cookie", cookie}});
  EXPECT_NE(search->body.find("href=\"/?q=entry&amp;page=2\""), std::string::npos);
}

TEST(WebCommands, PasswordsAreSetByCommand) {
  TempDir dir;
  std::string data = dir.path().string();
  ASSERT_EQ(RunCommand({"user", "add", "--data", data, "old", "--toolbar-id", "old"}).exitCode, 0);
  std::ofstream(dir.path() / "short") << "short\n";
  std::ofstream(dir.path() / "good") << "a good password\n";
  EXPECT_EQ(RunCommand({"user", "passwd", "--data", data, "old", "--password-file", (dir.path() / "short").string()}).exitCode, 1);
  EXPECT_EQ(RunCommand({"user", "passwd", "--data", data, "nobody", "--password-file", (dir.path() / "good").string()}).exitCode, 1);
  EXPECT_EQ(RunCommand({"user", "passwd", "--data", data, "old"}).exitCode, 1);  // no terminal, no file
  CommandResult set = RunCommand({"user", "passwd", "--data", data, "old", "--password-file", (dir.path() / "good").string()});
  EXPECT_EQ(set.exitCode, 0);
  EXPECT_EQ(set.out, "set the password of old\n");
  auto opened = OpenTestStore(dir.path());
  Store& store = *opened;
  EXPECT_TRUE(store.FindUserByName("old")->hasPassword);
  EXPECT_EQ(RunCommand({"user", "add", "--data", data, "old"}).exitCode, 1);  // exists
  EXPECT_EQ(RunCommand({"user", "add", "--data", data, "x", "--toolbar-id", "old"}).exitCode, 1);  // ToolbarID taken
}

}  // namespace
}  // namespace torvo::service
