#include "upload/folder_list.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/http.h"

namespace torvo::upload {
namespace {

using Kind = FolderReply::Kind;

TEST(FolderReply, ReadsTargetAndFolders) {
  struct Case {
    std::u16string reply;
    std::u16string target;
    std::vector<FolderEntry> folders;
  };
  const Case cases[] = {
      {u"up.host", u"up.host", {}},
      {u"up.host|Work^12|Travel^7", u"up.host", {{u"Work", 12}, {u"Travel", 7}}},
      {u"h|name^3^more^x", u"h", {{u"name", 3}}},
      {u"h|Same^1|Same^2", u"h", {{u"Same", 1}, {u"Same", 2}}},
      {u"h|^5", u"h", {{u"", 5}}},
      {u"h|여행^ -2147483648 |a^+2147483647|b^007", u"h",
       {{u"여행", INT32_MIN}, {u"a", INT32_MAX}, {u"b", 7}}},
      {u"127.0.0.1:8765|사진^0", u"127.0.0.1:8765", {{u"사진", 0}}},
  };
  for (const auto& c : cases) {
    FolderReply r = ParseFolderReply(c.reply);
    ASSERT_EQ(r.kind, Kind::kFolders) << std::string(r.message.begin(), r.message.end());
    EXPECT_EQ(r.target, c.target);
    EXPECT_EQ(r.folders, c.folders);
  }
}

TEST(FolderReply, ZeroMeansSignedOut) {
  FolderReply r = ParseFolderReply(u"0");
  EXPECT_EQ(r.kind, Kind::kSignedOut);
  EXPECT_EQ(r.message, u"로그아웃 상태입니다.");
  // "0" followed by folders is an upload host named "0", not a sign-out.
  EXPECT_EQ(ParseFolderReply(u"0|a^1").kind, Kind::kFolders);
}

TEST(FolderReply, RefusesRepliesOutsideTheGrammar) {
  struct Case {
    std::u16string reply;
    std::u16string messageTail;
  };
  const Case cases[] = {
      {u"", u"응답이 비어 있습니다."},
      {u"|a^1", u"업로드 호스트가 비어 있습니다."},
      {u"h|a^1|", u"폴더 항목 2이(가) 비어 있습니다."},
      {u"h||a^1", u"폴더 항목 1이(가) 비어 있습니다."},
      {u"h|Work", u"폴더 항목 1에 '^'가 없습니다: \"Work\""},
      {u"h|a^x", u"폴더 항목 1의 번호가 숫자가 아닙니다: \"x\""},
      {u"h|a^", u"폴더 항목 1의 번호가 숫자가 아닙니다: \"\""},
      {u"h|a^ ", u"폴더 항목 1의 번호가 숫자가 아닙니다: \" \""},
      {u"h|a^-", u"폴더 항목 1의 번호가 숫자가 아닙니다: \"-\""},
      {u"h|a^1 2", u"폴더 항목 1의 번호가 숫자가 아닙니다: \"1 2\""},
      {u"h|a^2147483648", u"폴더 항목 1의 번호가 숫자가 아닙니다: \"2147483648\""},
      {u"h|a^-2147483649", u"폴더 항목 1의 번호가 숫자가 아닙니다: \"-2147483649\""},
      {u"h|a^99999999999999999999", u"폴더 항목 1의 번호가 숫자가 아닙니다: \"99999999999999999999\""},
      {u"h|a^1.5", u"폴더 항목 1의 번호가 숫자가 아닙니다: \"1.5\""},
      {u"h|a^0x10", u"폴더 항목 1의 번호가 숫자가 아닙니다: \"0x10\""},
      {u"h|a^1\r\n", u"폴더 항목 1의 번호가 숫자가 아닙니다: \"1\r\n\""},
  };
  for (const auto& c : cases) {
    FolderReply r = ParseFolderReply(c.reply);
    EXPECT_EQ(r.kind, Kind::kFailed);
    EXPECT_EQ(r.message, u"서비스의 폴더 목록 응답을 읽을 수 없습니다: " + c.messageTail);
  }
}

TEST(FolderListAddress, EscapesOnlyWhatAnAddressCannotCarry) {
  EXPECT_EQ(FolderListAddress("127.0.0.1:8765", u"user01"),
            "http://127.0.0.1:8765/imgList.php?state=geturi&tid=user01");
  EXPECT_EQ(FolderListAddress("h", u"a b\t가%&=?"),
            "http://h/imgList.php?state=geturi&tid=a%20b%09%B0%A1%&=?");
  EXPECT_EQ(FolderListAddress("h", u""), "http://h/imgList.php?state=geturi&tid=");
}

// A one-shot server on a loopback port: answers the first request with a canned reply (or says
// nothing when the reply is empty), then closes.
class OneShotServer {
 public:
  explicit OneShotServer(std::string reply) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    listen(listener_, 1);
    thread_ = std::thread([this, reply = std::move(reply)] {
      int c = accept(listener_, nullptr, nullptr);
      if (c < 0) return;
      char buf[4096];
      std::string request;
      while (request.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = read(c, buf, sizeof buf);
        if (n <= 0) break;
        request.append(buf, n);
      }
      request_ = request;
      if (reply.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
      } else {
        (void)!write(c, reply.data(), reply.size());
      }
      close(c);
    });
  }
  ~OneShotServer() {
    Join();
    close(listener_);
  }
  // Waits for the server to finish; returns the request head it read.
  const std::string& Join() {
    shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    return request_;
  }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  std::string request_;
  int listener_;
  int port_ = 0;
  std::thread thread_;
};

std::string HttpReply(const std::string& status, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

TEST(QueryFolders, ReadsTheReplyAsCp949) {
  OneShotServer server(HttpReply("200 OK", "up.host|\xC7\xD1\xB1\xDB^3"));
  HttpClient http;
  FolderReply r = QueryFolders(http, server.Host(), u"me 1");
  ASSERT_EQ(r.kind, Kind::kFolders);
  EXPECT_EQ(r.target, u"up.host");
  EXPECT_EQ(r.folders, (std::vector<FolderEntry>{{u"한글", 3}}));
  EXPECT_EQ(server.Join().rfind("GET /imgList.php?state=geturi&tid=me%201 HTTP/1.1\r\n", 0), 0u);
}

TEST(QueryFolders, FailedRequestsEndWithAMessage) {
  {
    OneShotServer server(HttpReply("500 Internal Server Error", "0"));
    HttpClient http;
    FolderReply r = QueryFolders(http, server.Host(), u"me");
    EXPECT_EQ(r.kind, Kind::kFailed);
    EXPECT_EQ(r.message, u"서비스가 폴더 목록 요청에 오류로 응답했습니다 (HTTP 500).");
  }
  {
    OneShotServer server("");  // accepts and stays silent
    HttpClient http(HttpTimeouts{1000, 300, 300});
    FolderReply r = QueryFolders(http, server.Host(), u"me");
    EXPECT_EQ(r.kind, Kind::kFailed);
    EXPECT_EQ(r.message.rfind(u"서비스에 연결하지 못해 폴더 목록을 받을 수 없습니다.\n(", 0), 0u);
  }
  {
    std::string host;
    { OneShotServer gone("x"); host = gone.Host(); }  // a port nobody listens on any more
    HttpClient http;
    FolderReply r = QueryFolders(http, host, u"me");
    EXPECT_EQ(r.kind, Kind::kFailed);
    EXPECT_EQ(r.message.rfind(u"서비스에 연결하지 못해", 0), 0u);
  }
}

}  // namespace
}  // namespace torvo::upload
