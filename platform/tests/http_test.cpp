#include "platform/http.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/tests/loopback_socket.h"

namespace torvo {
namespace {

// A one-shot loopback server: accepts one connection, reads the request head, writes reply.
class OneShotServer {
 public:
  explicit OneShotServer(std::string reply) : reply_(std::move(reply)) {
    listener_ = testing::ListenOnLoopback(&port_);
    thread_ = std::thread([this] {
      const testing::SocketHandle c = testing::AcceptOne(listener_);
      if (c == testing::kNoSocket) return;
      std::string head;
      char buf[4096];
      while (head.find("\r\n\r\n") == std::string::npos) {
        const long n = testing::ReceiveSome(c, buf, sizeof buf);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
      }
      request_ = head;
      size_t sent = 0;
      while (sent < reply_.size()) {
        const long n = testing::SendSome(c, reply_.data() + sent, reply_.size() - sent);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      testing::CloseSocket(c);
    });
  }
  ~OneShotServer() {
    testing::ShutDownAndClose(listener_);
    thread_.join();
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  const std::string& request() const { return request_; }

 private:
  std::string reply_;
  testing::SocketHandle listener_ = testing::kNoSocket;
  int port_ = 0;
  std::thread thread_;
  std::string request_;
};

std::string Reply(const std::string& status, const std::string& body, bool announceLength = true) {
  std::string head = "HTTP/1.1 " + status + "\r\nConnection: close\r\n";
  if (announceLength) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return head + "\r\n" + body;
}

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
