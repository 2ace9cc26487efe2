// Connecting once against scripted service answers: every outcome a user can meet gives its own
// line, and only a sign-in that the folder list then confirms writes the file.
#include "connect/connect.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>

#include "platform/tests/temp_folder.h"

namespace torvo::connect {
namespace {

namespace fs = std::filesystem;

struct ScriptedHttp : Http {
  std::deque<HttpResult> replies;
  std::vector<std::string> asked;  // "GET url" / "POST url body"
  std::string trusted;
  void Trust(const std::string& pem) override { trusted = pem; }
  HttpResult Get(const std::string& url) override { return Next("GET " + url); }
  HttpResult PostForm(const std::string& url, const std::string& body) override { return Next("POST " + url + " " + body); }
  HttpResult Next(std::string request) {
    asked.push_back(std::move(request));
    if (replies.empty()) return {false, 0, "", "no reply scripted", HttpResult::Failure::kOther};
    HttpResult r = replies.front();
    replies.pop_front();
    return r;
  }
};

HttpResult Reply(long status, std::string body) { return {true, status, std::move(body), "", HttpResult::Failure::kNone}; }
HttpResult Broken(HttpResult::Failure failure) { return {false, 0, "", "it broke", failure}; }

struct Folder {
  fs::path path = testing::MakeTempFolder("torvo-connect-");
  fs::path file = path / "torvo" / "connection";
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

const HttpResult kSignedIn = Reply(200, R"({"torvo":1,"identity":"abcdef0123456789","name":"alice"})");
const HttpResult kFolders = Reply(200, "127.0.0.1|trips^3");

TEST(Connect, SignsInChecksAndSaves) {
  Folder folder;
  ScriptedHttp http;
  http.replies = {kSignedIn, kFolders};
  const Result r = ConnectWithPassword(http, {"https://example.org/torvo", "alice", "p&ss w", "laptop", ""}, folder.file);
  ASSERT_EQ(r.outcome, Outcome::kSaved) << r.message;
  ASSERT_EQ(http.asked.size(), 2u);
  EXPECT_EQ(http.asked[0], "POST https://example.org/torvo/deviceSignIn.php name=alice&password=p%26ss%20w&device=laptop");
  EXPECT_EQ(http.asked[1], "GET https://example.org/torvo/imgList.php?state=geturi&tid=abcdef0123456789");
  const ConnectionFile saved = ReadConnection(folder.file);
  ASSERT_EQ(saved.state, ConnectionFile::State::kRead);
  EXPECT_EQ(saved.connection.identity, "abcdef0123456789");
  EXPECT_EQ(saved.connection.service.Url(), "https://example.org/torvo/");
  EXPECT_NE(r.message.find("alice"), std::string::npos);
}

TEST(Connect, EveryFailureIsItsOwnLineAndWritesNothing) {
  using F = HttpResult::Failure;
  struct Case {
    const char* name;
    std::string address;
    std::vector<HttpResult> replies;
    Outcome outcome;
    const char* messagePart;
  };
  const std::vector<Case> cases = {
      {"not http", "ftp://example.org/", {}, Outcome::kBadAddress, "http:// or https://"},
      {"unreachable", "http://example.org:8765/", {Broken(F::kUnreachable)}, Outcome::kUnreachable, "Cannot reach example.org:8765"},
      {"untrusted", "https://example.org/", {Broken(F::kUntrusted)}, Outcome::kUntrusted, "certificate of example.org is not trusted"},
      {"plain server", "https://example.org/", {Broken(F::kNotTls)}, Outcome::kNotTls, "does not speak https"},
      {"tls server", "http://example.org/", {Broken(F::kSpeaksTls)}, Outcome::kSpeaksTls, "with https://"},
      {"someone else's page", "https://example.org/", {Reply(200, "<html>hello</html>")}, Outcome::kNotTorvo, "not as a Torvo service"},
      {"no such exchange", "https://example.org/", {Reply(404, "Not Found")}, Outcome::kNotTorvo, "HTTP 404"},
      {"wrong password", "https://example.org/", {Reply(401, R"({"torvo":1,"error":"credentials"})")}, Outcome::kCredentials, "Wrong name or password"},
      {"slowed", "https://example.org/", {Reply(429, R"({"torvo":1,"error":"slowed","retryAfter":7})")}, Outcome::kSlowed, "in 7 seconds"},
      {"bad request", "https://example.org/", {Reply(400, R"({"torvo":1,"error":"request","message":"device name too long"})")}, Outcome::kFailed, "device name too long"},
      {"signed out at once", "https://example.org/", {kSignedIn, Reply(200, "0")}, Outcome::kSignedOut, "signed out"},
      {"list not Torvo", "https://example.org/", {kSignedIn, Reply(200, "<html>")}, Outcome::kNotTorvo, "not as a Torvo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Folder folder;
    ScriptedHttp http;
    http.replies.assign(c.replies.begin(), c.replies.end());
    const Result r = ConnectWithPassword(http, {c.address, "alice", "pw", "", ""}, folder.file);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_NE(r.message.find(c.messagePart), std::string::npos) << r.message;
    EXPECT_EQ(r.message.find('\n'), std::string::npos) << r.message;
    EXPECT_FALSE(fs::exists(folder.file));
  }
}

TEST(Connect, ToolbarIdIsCheckedBeforeSaving) {
  Folder folder;
  ScriptedHttp http;
  http.replies = {Reply(200, "0")};
  Result r = ConnectWithToolbarId(http, "http://nas:8765", "old-id", "", folder.file);
  EXPECT_EQ(r.outcome, Outcome::kSignedOut);
  EXPECT_FALSE(fs::exists(folder.file));
  // The identity is asked for as TorvoTool asks: code page 949 bytes, a space and the bytes above
  // 0x7F escaped, anything else as it is (the service reads a plain "+" as a plus).
  struct Case {
    std::string identity;
    std::string asked;
  };
  const std::vector<Case> cases = {
      {"good-id-12345", "good-id-12345"},
      {"alice phone", "alice%20phone"},
      {"앨리스 폰", "%BE%D9%B8%AE%BD%BA%20%C6%F9"},
      {"a+b=c", "a+b=c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identity);
    Folder saved;
    http.replies = {kFolders};
    r = ConnectWithToolbarId(http, "http://nas:8765", c.identity, "", saved.file);
    ASSERT_EQ(r.outcome, Outcome::kSaved) << r.message;
    EXPECT_EQ(http.asked.back(), "GET http://nas:8765/imgList.php?state=geturi&tid=" + c.asked);
    EXPECT_EQ(ReadConnection(saved.file).connection.identity, c.identity);
    EXPECT_EQ(r.message.find(c.identity), std::string::npos) << "the identity is never shown whole";
  }
  // What the connection file could not keep is refused before anything is asked.
  for (const std::string refused : {"", " alice", "alice ", "a\tb"}) {
    SCOPED_TRACE(refused);
    ScriptedHttp none;
    r = ConnectWithToolbarId(none, "http://nas:8765", refused, "", folder.file);
    EXPECT_EQ(r.message, "No usable ToolbarID was given on standard input.");
    EXPECT_TRUE(none.asked.empty());
    EXPECT_FALSE(fs::exists(folder.file));
  }
}

TEST(Connect, CertificateIsTrustedAndKeptAsAnAbsolutePath) {
  Folder folder;
  const fs::path pem = folder.path / "ca.pem";
  std::ofstream(pem) << "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";
  ScriptedHttp http;
  http.replies = {kFolders};
  const Result r = ConnectWithToolbarId(http, "https://nas/", "good-id-12345", pem.string(), folder.file);
  ASSERT_EQ(r.outcome, Outcome::kSaved) << r.message;
  EXPECT_NE(http.trusted.find("BEGIN CERTIFICATE"), std::string::npos);
  EXPECT_EQ(ReadConnection(folder.file).connection.certificate, pem.string());
  // A certificate that cannot be used stops before anything is asked.
  ScriptedHttp other;
  const Result bad = ConnectWithToolbarId(other, "https://nas/", "id-2", (folder.path / "none.pem").string(), folder.path / "c2");
  EXPECT_EQ(bad.outcome, Outcome::kBadCertificate);
  EXPECT_TRUE(other.asked.empty());
}

TEST(Connect, ForgetSignsOutAndRemoves) {
  Folder folder;
  ServiceConnection connection;
  std::string problem;
  connection.service = *ParseServiceAddress("https://example.org/torvo/", &problem);
  connection.identity = "abc+def";
  ASSERT_EQ(WriteConnection(folder.file, connection), std::nullopt);
  ScriptedHttp http;
  http.replies = {Reply(200, R"({"torvo":1,"revoked":true})")};
  std::string message;
  EXPECT_TRUE(Forget(http, folder.file, &message));
  EXPECT_EQ(http.asked.at(0), "POST https://example.org/torvo/deviceSignOut.php tid=abc%2Bdef");
  EXPECT_FALSE(fs::exists(folder.file));
  EXPECT_NE(message.find("signed this device out"), std::string::npos) << message;
  // An unreachable service still forgets, and says the device must be revoked by hand.
  ASSERT_EQ(WriteConnection(folder.file, connection), std::nullopt);
  http.replies = {Broken(HttpResult::Failure::kUnreachable)};
  EXPECT_TRUE(Forget(http, folder.file, &message));
  EXPECT_FALSE(fs::exists(folder.file));
  EXPECT_NE(message.find("settings page"), std::string::npos) << message;
}

TEST(Connect, JsonValuesOfTheExchange) {
  const std::string json = R"({ "torvo" : 1, "identity":"a\"b", "name":"앨리스", "retryAfter":30})";
  EXPECT_EQ(JsonValue(json, "torvo"), "1");
  EXPECT_EQ(JsonValue(json, "identity"), "a\"b");
  EXPECT_EQ(JsonValue(json, "name"), "앨리스");
  EXPECT_EQ(JsonValue(json, "retryAfter"), "30");
  EXPECT_EQ(JsonValue(json, "missing"), "");
}

}  // namespace
}  // namespace torvo::connect
