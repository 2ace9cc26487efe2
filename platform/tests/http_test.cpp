#include "platform/http.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/tests/one_shot_server.h"

namespace torvo {
namespace {

using testing::OneShotServer;
using testing::Reply;

TEST(HttpClient, StatusBodyAndLimits) {
  struct Case {
    const char* what;
    std::string reply;
    int64_t limit;
    bool transportOk;
    long status;
    std::string body;
    std::string errorPart;
  };
  const std::string big(5000, 'x');
  const Case cases[] = {
      {"plain reply", Reply("200 OK", "a|b^1"), 1 << 20, true, 200, "a|b^1", ""},
      {"error status keeps its page", Reply("404 Not Found", "gone"), 1 << 20, true, 404, "gone", ""},
      {"announced body over the limit", Reply("200 OK", big), 4096, false, 0, "", "larger than"},
      {"unannounced body over the limit", Reply("200 OK", big, false), 4096, false, 0, "", "larger than"},
      {"body cut short", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", 1 << 20, false, 0, "", ""},
  };
  for (const auto& c : cases) {
    OneShotServer server(c.reply);
    HttpTimeouts limits;
    limits.maxBodyBytes = c.limit;
    limits.totalMs = 5000;
    HttpClient client(limits);
    HttpResult r = client.Get(server.Url("/imgList.php?tid=u%201"));
    EXPECT_EQ(r.transportOk, c.transportOk) << c.what;
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.body, c.body) << c.what;
    EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << c.what << ": " << r.error;
    EXPECT_EQ(server.request().rfind("GET /imgList.php?tid=u%201 HTTP/1.1\r\n", 0), 0u) << c.what;
  }
}

TEST(HttpClient, NoServerIsATransportFailure) {
  const int port = testing::UnusedLoopbackPort();  // nothing listens there now
  HttpClient client;
  HttpResult r = client.Get("http://127.0.0.1:" + std::to_string(port) + "/");
  EXPECT_FALSE(r.transportOk);
  EXPECT_FALSE(r.Success());
  EXPECT_FALSE(r.error.empty());
}

}  // namespace
}  // namespace torvo
