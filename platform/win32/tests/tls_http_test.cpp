// The https requests' own channel against loopback servers that never complete a handshake:
// each ends with WinINet's road's words and kind, within its limit or on the abort flag, and
// none of them sees a byte of the request.
#include "platform/win32/tls_http.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/tests/loopback_socket.h"

namespace torvo::win32 {
namespace {

using namespace torvo::testing;
using Clock = std::chrono::steady_clock;

// Accepts one connection, answers its first bytes with reply (then closes, or stays silent),
// and records all it received.
class RecordingServer {
 public:
  RecordingServer(std::string reply, bool holdOpen) {
    listener_ = ListenOnLoopback(&port_);
    thread_ = std::thread([this, reply = std::move(reply), holdOpen] {
      const SocketHandle c = AcceptOne(listener_);
      if (c == kNoSocket) return;
      bool answered = false;
      char buf[4096];
      while (!ending_) {
        if (!WaitForInput(c, 20)) continue;
        const long n = ReceiveSome(c, buf, sizeof buf);
        if (n <= 0) break;
        received_.append(buf, static_cast<size_t>(n));
        if (!answered && !reply.empty()) SendSome(c, reply.data(), reply.size());
        answered = true;
        if (!holdOpen) break;
      }
      ShutDownAndClose(c);
    });
  }
  ~RecordingServer() { Stop(); }
  uint16_t port() const { return static_cast<uint16_t>(port_); }
  std::string received() {
    Stop();
    return received_;
  }

 private:
  void Stop() {
    ending_ = true;
    if (listener_ != kNoSocket) ShutDownAndClose(listener_);
    listener_ = kNoSocket;
    if (thread_.joinable()) thread_.join();
  }

  SocketHandle listener_ = kNoSocket;
  int port_ = 0;
  std::atomic<bool> ending_{false};
  std::thread thread_;
  std::string received_;
};

TEST(TlsHttpConnection, FailuresBeforeTheHandshakeCompletesSendNothingOfTheRequest) {
  struct Case {
    const char* what;
    bool server;
    std::string reply;
    bool holdOpen;
    bool abortSoon;
    HttpResult::Failure failure;
    std::string errorPart;
  };
  const Case cases[] = {
      {"a plain http server", true, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n", true, false,
       HttpResult::Failure::kNotTls, "does not speak TLS"},
      {"a server that closes at once", true, "", false, false, HttpResult::Failure::kNotTls, "may not speak TLS"},
      {"a server gone silent", true, "", true, false, HttpResult::Failure::kOther, "Timeout was reached"},
      {"a silent server, aborted", true, "", true, true, HttpResult::Failure::kOther, "aborted"},
      {"no server", false, "", false, false, HttpResult::Failure::kUnreachable, "Couldn't connect to server"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<RecordingServer> server;
    uint16_t port = static_cast<uint16_t>(UnusedLoopbackPort());
    if (c.server) {
      server = std::make_unique<RecordingServer>(c.reply, c.holdOpen);
      port = server->port();
    }
    HttpTimeouts limits;
    limits.connectMs = 2000;
    limits.stallMs = c.abortSoon ? 20000 : 500;
    limits.totalMs = 30000;
    std::atomic<bool> abort{false};
    std::thread aborter;
    if (c.abortSoon) {
      aborter = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        abort = true;
      });
    }
    TlsHttpRequest request;
    request.host = "127.0.0.1";
    request.port = port;
    request.target = "/imgList.php?state=geturi&tid=secret-id";
    const Clock::time_point started = Clock::now();
    TlsHttpConnection connection;
    const HttpResult r = connection.Exchange(request, "", limits, &abort);
    const long ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
    if (aborter.joinable()) aborter.join();
    EXPECT_FALSE(r.transportOk) << c.what;
    EXPECT_EQ(r.failure, c.failure) << c.what << ": " << r.error;
    EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << c.what << ": " << r.error;
    EXPECT_LT(ms, 10000) << c.what << ": took the limits' time, not the case's";
    if (server) {
      const std::string got = server->received();
      EXPECT_FALSE(got.empty()) << c.what << ": the client hello reached the server";
      EXPECT_EQ(got.find("secret-id"), std::string::npos) << c.what;
      EXPECT_EQ(got.find("GET "), std::string::npos) << c.what;
    }
  }
}

}  // namespace
}  // namespace torvo::win32
