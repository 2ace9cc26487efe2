#include "platform/http.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace torvo {
namespace {

// A one-shot loopback server: accepts one connection, reads the request head, writes reply.
class OneShotServer {
 public:
  explicit OneShotServer(std::string reply) : reply_(std::move(reply)) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 1);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] {
      int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      std::string head;
      char buf[4096];
      while (head.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
      }
      request_ = head;
      size_t sent = 0;
      while (sent < reply_.size()) {
        ssize_t n = send(c, reply_.data() + sent, reply_.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      close(c);
    });
  }
  ~OneShotServer() {
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    thread_.join();
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  const std::string& request() const { return request_; }

 private:
  std::string reply_;
  int fd_ = -1;
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
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  const int port = ntohs(addr.sin_port);
  close(fd);  // nothing listens there now
  HttpClient client;
  HttpResult r = client.Get("http://127.0.0.1:" + std::to_string(port) + "/");
  EXPECT_FALSE(r.transportOk);
  EXPECT_FALSE(r.Success());
  EXPECT_FALSE(r.error.empty());
}

}  // namespace
}  // namespace torvo
