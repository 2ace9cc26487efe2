#pragma once
// What every blocking GET does, whichever library carries it: each client's tests run these
// cases against it, so the programs see one behaviour behind the HttpGetter interface.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/http.h"
#include "platform/tests/loopback_socket.h"
#include "platform/tests/one_shot_server.h"

namespace torvo::testing {

using MakeGetter = std::function<std::unique_ptr<HttpGetter>(const HttpTimeouts&)>;

inline void ExpectStatusBodyAndLimits(const MakeGetter& make) {
  struct Case {
    const char* what;
    std::string reply;
    int64_t limit;
    bool transportOk;
    long status;
    std::string body;
    std::string errorPart;
    bool holdOpen = false;
  };
  const std::string big(5000, 'x');
  const Case cases[] = {
      {"plain reply", Reply("200 OK", "a|b^1"), 1 << 20, true, 200, "a|b^1", ""},
      {"error status keeps its page", Reply("404 Not Found", "gone"), 1 << 20, true, 404, "gone", ""},
      {"a redirect is answered, not followed",
       "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:9/elsewhere\r\nContent-Length: 3\r\nConnection: close\r\n\r\nbye",
       1 << 20, true, 302, "bye", ""},
      {"announced body over the limit", Reply("200 OK", big), 4096, false, 0, "", "larger than"},
      {"unannounced body over the limit", Reply("200 OK", big, false), 4096, false, 0, "", "larger than"},
      {"body cut short", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", 1 << 20, false, 0, "", ""},
      {"a server gone silent mid-body",
       "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", 1 << 20, false, 0, "", "", true},
  };
  for (const auto& c : cases) {
    OneShotServer server(c.reply, c.holdOpen);
    HttpTimeouts limits;
    limits.maxBodyBytes = c.limit;
    limits.totalMs = 5000;
    limits.stallMs = 500;
    std::unique_ptr<HttpGetter> getter = make(limits);
    HttpResult r = getter->Get(server.Url("/imgList.php?tid=u%201"));
    EXPECT_EQ(r.transportOk, c.transportOk) << c.what;
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.body, c.body) << c.what;
    EXPECT_EQ(r.transportOk, r.error.empty()) << c.what << ": " << r.error;
    EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << c.what << ": " << r.error;
    EXPECT_EQ(server.request().rfind("GET /imgList.php?tid=u%201 HTTP/1.1\r\n", 0), 0u) << c.what;
  }
}

// A server that compresses for a client that asks for it, and drops the connection halfway
// through the body: a client that inflates what it got must not take the part for the whole.
inline void ExpectACompressedReplyCutShortIsATransportFailure(const MakeGetter& make) {
  const std::string plain = "127.0.0.1:8765\n1|travel\n3|work\n";
  static const unsigned char kGzipped[] = {
      0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x03, 0x33, 0x34, 0x32, 0xd7, 0x33, 0x00, 0x42, 0x43,
      0x2b, 0x0b, 0x73, 0x33, 0x53, 0x2e, 0xc3, 0x9a, 0x92, 0xa2, 0xc4, 0xb2, 0xd4, 0x1c, 0x2e, 0xe3, 0x9a, 0xf2,
      0xfc, 0xa2, 0x6c, 0x2e, 0x43, 0x5a, 0x4a, 0x03, 0x00, 0x12, 0xe7, 0x31, 0x39, 0x7c, 0x00, 0x00, 0x00};
  OneShotServer server([&](const std::string& head) {
    std::string lower(head);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool gzip = lower.find("accept-encoding:") != std::string::npos && lower.find("gzip") != std::string::npos;
    const std::string whole = gzip ? std::string(reinterpret_cast<const char*>(kGzipped), sizeof kGzipped) : plain;
    return "HTTP/1.1 200 OK\r\n" + std::string(gzip ? "Content-Encoding: gzip\r\n" : "") +
           "Content-Length: " + std::to_string(whole.size()) + "\r\nKeep-Alive: timeout=10\r\n\r\n" +
           whole.substr(0, whole.size() / 2);
  });
  std::unique_ptr<HttpGetter> getter = make(HttpTimeouts{});
  HttpResult r = getter->Get(server.Url("/imgList.php"));
  EXPECT_FALSE(r.transportOk) << "took [" << r.body << "] for the whole reply";
  EXPECT_EQ(r.body, "");
}

inline void ExpectNoServerIsATransportFailure(const MakeGetter& make) {
  const int port = UnusedLoopbackPort();  // nothing listens there now
  std::unique_ptr<HttpGetter> getter = make(HttpTimeouts{});
  HttpResult r = getter->Get("http://127.0.0.1:" + std::to_string(port) + "/");
  EXPECT_FALSE(r.transportOk);
  EXPECT_FALSE(r.Success());
  EXPECT_FALSE(r.error.empty());
}

}  // namespace torvo::testing
