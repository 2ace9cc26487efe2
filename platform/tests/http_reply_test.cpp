// The HTTP/1.1 reply as the Windows client reads it off its own TLS channel: every case is fed
// whole and byte by byte (records split a reply anywhere), and a close of the peer may follow.
#include "platform/http_reply.h"

#include <gtest/gtest.h>

#include <string>

namespace torvo {
namespace {

using State = HttpReplyReader::State;
using Fault = HttpReplyReader::Fault;

struct Case {
  const char* what;
  std::string reply;
  bool closeAfter;  // the peer closes its side after the bytes
  int64_t limit;
  State state;
  Fault fault;
  long status;
  std::string body;
  bool keepAlive;
  std::string leftover;
};

TEST(HttpReplyReader, FramingLimitsAndCuts) {
  const std::string big(5000, 'x');
  const Case cases[] = {
      {"Content-Length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\na|b^1", false, 1 << 20, State::kDone, Fault::kNone,
       200, "a|b^1", true, ""},
      {"the next reply's bytes are not this body's", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokHTTP/1.1", false,
       1 << 20, State::kDone, Fault::kNone, 200, "ok", false, "HTTP/1.1"},
      {"header names in any case, spaces around values", "HTTP/1.1 404 Not Found\r\ncOnTeNt-LeNgTh:   4  \r\n\r\ngone",
       false, 1 << 20, State::kDone, Fault::kNone, 404, "gone", true, ""},
      {"Connection: close ends the channel", "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\nz", false,
       1 << 20, State::kDone, Fault::kNone, 200, "z", false, ""},
      {"HTTP/1.0 closes unless asked", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nz", false, 1 << 20, State::kDone,
       Fault::kNone, 200, "z", false, ""},
      {"HTTP/1.0 with keep-alive", "HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 1\r\n\r\nz", false,
       1 << 20, State::kDone, Fault::kNone, 200, "z", true, ""},
      {"chunked, with an extension and a trailer",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;name=x\r\nhello\r\nA\r\n0123456789\r\n0\r\nX-Sum: 1\r\n\r\n",
       false, 1 << 20, State::kDone, Fault::kNone, 200, "hello0123456789", true, ""},
      {"chunked wins over a Content-Length",
       "HTTP/1.1 200 OK\r\nContent-Length: 99\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", false,
       1 << 20, State::kDone, Fault::kNone, 200, "abc", true, ""},
      {"to the close", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nall of it", true, 1 << 20, State::kDone,
       Fault::kNone, 200, "all of it", false, ""},
      {"to the close, not closed yet", "HTTP/1.1 200 OK\r\n\r\nsome", false, 1 << 20, State::kBody, Fault::kNone, 200,
       "some", false, ""},
      {"a 100 Continue before the reply", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nid",
       false, 1 << 20, State::kDone, Fault::kNone, 201, "id", true, ""},
      {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n", false, 1 << 20, State::kDone,
       Fault::kNone, 204, "", true, ""},
      {"empty body by length", "HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n", false, 1 << 20,
       State::kDone, Fault::kNone, 302, "", true, ""},
      {"bare newlines", "HTTP/1.1 200 OK\nContent-Length: 2\n\nhi", false, 1 << 20, State::kDone, Fault::kNone, 200, "hi",
       true, ""},
      {"announced body over the limit", "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n", false, 4096, State::kFailed,
       Fault::kTooLarge, 0, "", false, ""},
      {"unannounced body over the limit", "HTTP/1.1 200 OK\r\n\r\n" + big, false, 4096, State::kFailed, Fault::kTooLarge,
       0, "", false, ""},
      {"a chunk over the limit", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1389\r\n", false, 4096,
       State::kFailed, Fault::kTooLarge, 0, "", false, ""},
      {"chunks adding up over the limit",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n800\r\n" + std::string(2048, 'a') + "\r\n801\r\n", false,
       4096, State::kFailed, Fault::kTooLarge, 0, "", false, ""},
      {"a body exactly at the limit", "HTTP/1.1 200 OK\r\nContent-Length: 4096\r\n\r\n" + std::string(4096, 'b'), false,
       4096, State::kDone, Fault::kNone, 200, std::string(4096, 'b'), true, ""},
      {"length cut short by the close", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", true, 1 << 20,
       State::kFailed, Fault::kPartial, 0, "", false, ""},
      {"chunks cut short by the close", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc", true, 1 << 20,
       State::kFailed, Fault::kPartial, 0, "", false, ""},
      {"chunks without their last one", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n", true,
       1 << 20, State::kFailed, Fault::kPartial, 0, "", false, ""},
      {"a head cut short", "HTTP/1.1 200 OK\r\nContent-Le", true, 1 << 20, State::kFailed, Fault::kMalformed, 0, "",
       false, ""},
      {"no reply at all", "", true, 1 << 20, State::kFailed, Fault::kMalformed, 0, "", false, ""},
      {"not HTTP", "SSH-2.0-server\r\n\r\n", false, 1 << 20, State::kFailed, Fault::kMalformed, 0, "", false, ""},
      {"a status that is no number", "HTTP/1.1 2x0 OK\r\n\r\n", false, 1 << 20, State::kFailed, Fault::kMalformed, 0, "",
       false, ""},
      {"a negative length", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false, 1 << 20, State::kFailed,
       Fault::kMalformed, 0, "", false, ""},
      {"two lengths that disagree", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nabc", false,
       1 << 20, State::kFailed, Fault::kMalformed, 0, "", false, ""},
      {"a chunk size that is no number", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false, 1 << 20,
       State::kFailed, Fault::kMalformed, 0, "", false, ""},
      {"a chunk longer than its size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n0\r\n\r\n",
       false, 1 << 20, State::kFailed, Fault::kMalformed, 0, "", false, ""},
      {"a head without end", "HTTP/1.1 200 OK\r\nX: " + std::string(70000, 'h'), false, 1 << 20, State::kFailed,
       Fault::kMalformed, 0, "", false, ""},
  };
  for (const Case& c : cases) {
    for (const bool byteByByte : {false, true}) {
      const std::string how = std::string(c.what) + (byteByByte ? ", byte by byte" : ", whole");
      HttpReplyReader reader(c.limit);
      if (byteByByte) {
        for (char b : c.reply) reader.Feed(std::string_view(&b, 1));
      } else {
        reader.Feed(c.reply);
      }
      if (c.closeAfter) reader.End();
      EXPECT_EQ(reader.state(), c.state) << how;
      EXPECT_EQ(reader.fault(), c.fault) << how;
      EXPECT_EQ(reader.error().empty(), c.fault == Fault::kNone) << how;
      if (c.state == State::kFailed) continue;
      EXPECT_EQ(reader.status(), c.status) << how;
      EXPECT_EQ(reader.body(), c.body) << how;
      EXPECT_EQ(reader.keepAlive(), c.keepAlive) << how;
      EXPECT_EQ(reader.leftover(), c.leftover) << how;
    }
  }
}

// The words a user reads are the other clients' words for the same faults.
TEST(HttpReplyReader, FailuresReadAsTheOtherClientsSayThem) {
  HttpReplyReader large(int64_t{64} << 20);
  large.Feed("HTTP/1.1 200 OK\r\nContent-Length: 70000000\r\n\r\n");
  EXPECT_EQ(large.error(), "the reply is larger than 64 MiB");
  HttpReplyReader cut(1 << 20);
  cut.Feed("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nab");
  cut.End();
  EXPECT_EQ(cut.error(), "Transferred a partial file");
  HttpReplyReader none(1 << 20);
  EXPECT_FALSE(none.started());
  none.End();
  EXPECT_EQ(none.error(), "Failure when receiving data from the peer");
}

TEST(HttpRequestBytes, HostLengthAndTypeAsSent) {
  struct RequestCase {
    const char* method;
    const char* target;
    const char* contentType;
    std::string body;
    std::string expected;
  };
  const RequestCase cases[] = {
      {"GET", "/torvo/imgList.php?tid=u%201", "", "",
       "GET /torvo/imgList.php?tid=u%201 HTTP/1.1\r\nHost: 127.0.0.1:8443\r\nUser-Agent: Torvo\r\nAccept: */*\r\n\r\n"},
      {"GET", "", "", "", "GET / HTTP/1.1\r\nHost: 127.0.0.1:8443\r\nUser-Agent: Torvo\r\nAccept: */*\r\n\r\n"},
      {"POST", "/sign", "application/x-www-form-urlencoded", "a=1&b=2",
       "POST /sign HTTP/1.1\r\nHost: 127.0.0.1:8443\r\nUser-Agent: Torvo\r\nAccept: */*\r\n"
       "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 7\r\n\r\na=1&b=2"},
      {"POST", "/empty", "", "",
       "POST /empty HTTP/1.1\r\nHost: 127.0.0.1:8443\r\nUser-Agent: Torvo\r\nAccept: */*\r\nContent-Length: 0\r\n\r\n"},
  };
  for (const RequestCase& c : cases)
    EXPECT_EQ(HttpRequestBytes(c.method, c.target, "127.0.0.1:8443", c.contentType, c.body), c.expected) << c.target;
}

}  // namespace
}  // namespace torvo
