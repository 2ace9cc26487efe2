// The Winsock connection, timer and pending events against a real loopback listener, driven by
// this thread's message loop as the window's would be.
#include "platform/win32/tcp_connection.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/tests/loopback_socket.h"
#include "platform/win32/one_shot_timer.h"
#include "platform/win32/pending_events.h"

namespace torvo::win32 {
namespace {

using namespace torvo::testing;

// Runs the message loop until done() holds or ms have passed; whether it held.
bool PumpUntil(const std::function<bool()>& done, int ms = 5000) {
  Win32PendingEvents pending;
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms);
  while (!done()) {
    if (GetTickCount64() > end) return false;
    pending.Run();
    Sleep(2);
  }
  return true;
}

// What a connection told, in order.
struct Events {
  explicit Events(WinsockConnection& c) {
    c.Connected = [this] { log.push_back("connected"); };
    c.DataArrival = [this, &c](int64_t total) {
      if (total <= 0) log.push_back("empty arrival");
      received += c.GetData();
    };
    c.Closed = [this] { log.push_back("closed"); };
    c.Failed = [this](const std::string& text) { log.push_back("failed: " + text); };
  }
  bool Ended() const {
    return !log.empty() && (log.back() == "closed" || log.back().rfind("failed", 0) == 0);
  }
  std::vector<std::string> log;
  std::string received;
};

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

TEST(WinsockConnection, ARefusedConnectionFailsWithTheSystemsWords) {
  WinsockConnection connection;
  Events events(connection);
  connection.Connect("127.0.0.1", static_cast<uint16_t>(UnusedLoopbackPort()));
  ASSERT_TRUE(PumpUntil([&] { return events.Ended(); }));
  ASSERT_EQ(events.log.size(), 1u);
  EXPECT_EQ(events.log[0].rfind("failed: ", 0), 0u) << events.log[0];
  EXPECT_GT(events.log[0].size(), std::string("failed: ").size());
}

TEST(WinsockConnection, BytesGoBothWaysInOrderAndThePeersCloseEndsTheReply) {
  // Larger than a socket's buffers, so the writes wait for the socket more than once.
  struct Case {
    size_t request;
    size_t reply;
  };
  for (const Case c : {Case{10, 0}, Case{5000, 17}, Case{3 << 20, 2 << 20}}) {
    int port = 0;
    const SocketHandle listener = ListenOnLoopback(&port);
    const std::string request = Pattern(c.request);
    const std::string reply = Pattern(c.reply + 3).substr(3);
    std::string got;
    std::thread server([&] {
      const SocketHandle peer = AcceptOne(listener);
      char chunk[65536];
      while (got.size() < request.size()) {
        const long n = ReceiveSome(peer, chunk, sizeof chunk);
        if (n <= 0) break;
        got.append(chunk, static_cast<size_t>(n));
      }
      for (size_t at = 0; at < reply.size();) {
        const long n = SendSome(peer, reply.data() + at, std::min<size_t>(reply.size() - at, 40000));
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      CloseSocket(peer);
    });
    WinsockConnection connection;
    Events events(connection);
    connection.Connect("127.0.0.1", static_cast<uint16_t>(port));
    // Queued before the connection stands, and more once it does.
    connection.SendData(std::string_view(request).substr(0, request.size() / 2));
    connection.Connected = [&] {
      events.log.push_back("connected");
      connection.SendData(std::string_view(request).substr(request.size() / 2));
    };
    const bool ended = PumpUntil([&] { return events.Ended(); }, 20000);
    server.join();
    CloseSocket(listener);
    ASSERT_TRUE(ended) << c.request;
    EXPECT_EQ(got == request, true) << c.request << ": the listener got " << got.size() << " bytes";
    EXPECT_EQ(events.received == reply, true) << c.request << ": got " << events.received.size() << " bytes";
    EXPECT_EQ(events.log, (std::vector<std::string>{"connected", "closed"})) << c.request;
  }
}

TEST(WinsockConnection, CloseEndsEveryEventAtOnce) {
  int port = 0;
  const SocketHandle listener = ListenOnLoopback(&port);
  std::thread server([&] {
    const SocketHandle peer = AcceptOne(listener);
    SendSome(peer, "reply", 5);
    CloseSocket(peer);
  });
  WinsockConnection connection;
  Events events(connection);
  connection.Connected = [&] {
    events.log.push_back("connected");
    // The reply and the close are on their way (their events queued) when the window closes.
    Sleep(300);
    connection.Close();
  };
  connection.Connect("127.0.0.1", static_cast<uint16_t>(port));
  ASSERT_TRUE(PumpUntil([&] { return !events.log.empty(); }));
  PumpUntil([] { return false; }, 300);
  server.join();
  CloseSocket(listener);
  EXPECT_EQ(events.log, std::vector<std::string>{"connected"});
  EXPECT_EQ(events.received, "");
  EXPECT_EQ(connection.GetData(), "");

  // The same connection object serves a new connection afterwards, whose failure alone is told.
  connection.Connect("127.0.0.1", static_cast<uint16_t>(UnusedLoopbackPort()));
  ASSERT_TRUE(PumpUntil([&] { return events.Ended(); }));
  ASSERT_EQ(events.log.size(), 2u);
  EXPECT_EQ(events.log[1].rfind("failed: ", 0), 0u);
}

TEST(WinsockConnection, TlsToAServerWithoutTlsFailsNamingTheHostAndSendsNothingPlain) {
  struct Case {
    const char* what;
    std::string answer;  // what the plain server says to the handshake before it hangs up
    TcpConnection::FailureKind kind;
    const char* words;
  };
  const Case cases[] = {
      {"a plain http server", "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n",
       TcpConnection::FailureKind::kNotTls, "does not speak TLS"},
      {"a server that hangs up", "", TcpConnection::FailureKind::kNotTls, "during the TLS handshake"},
  };
  for (const Case& c : cases) {
    int port = 0;
    const SocketHandle listener = ListenOnLoopback(&port);
    std::string got;
    std::thread server([&] {
      const SocketHandle peer = AcceptOne(listener);
      char chunk[4096];
      const long n = ReceiveSome(peer, chunk, sizeof chunk);
      if (n > 0) got.assign(chunk, static_cast<size_t>(n));
      if (!c.answer.empty()) SendSome(peer, c.answer.data(), c.answer.size());
      CloseSocket(peer);
    });
    WinsockConnection connection;
    Events events(connection);
    connection.ConnectTls("127.0.0.1", static_cast<uint16_t>(port), "");
    connection.SendData("GET /secret HTTP/1.1\r\n\r\n");
    const bool ended = PumpUntil([&] { return events.Ended(); }, 20000);
    server.join();
    CloseSocket(listener);
    ASSERT_TRUE(ended) << c.what;
    ASSERT_EQ(events.log.size(), 1u) << c.what;
    EXPECT_NE(events.log[0].find(c.words), std::string::npos) << c.what << ": " << events.log[0];
    EXPECT_NE(events.log[0].find("127.0.0.1"), std::string::npos) << c.what << ": " << events.log[0];
    EXPECT_EQ(connection.LastFailure(), c.kind) << c.what;
    // The server saw a TLS handshake record, never the request.
    ASSERT_FALSE(got.empty()) << c.what;
    EXPECT_EQ(got[0], '\x16') << c.what;
    EXPECT_EQ(got.find("secret"), std::string::npos) << c.what;
  }
}

TEST(Win32OneShotTimer, FiresOnceUnlessStoppedAndARestartMovesIt) {
  struct Case {
    const char* what;
    std::function<void(Win32OneShotTimer&)> act;
    int expected;
  };
  const Case cases[] = {
      {"started", [](Win32OneShotTimer& t) { t.Start(30); }, 1},
      {"stopped", [](Win32OneShotTimer& t) { t.Start(30); t.Stop(); }, 0},
      {"restarted", [](Win32OneShotTimer& t) { t.Start(30); t.Start(60); }, 1},
      // Stopped after it came due but before the loop ran: its queued tick is not told.
      {"stopped late", [](Win32OneShotTimer& t) { t.Start(10); Sleep(100); t.Stop(); }, 0},
  };
  for (const Case& c : cases) {
    Win32OneShotTimer timer;
    int due = 0;
    timer.Due = [&] { ++due; };
    c.act(timer);
    PumpUntil([] { return false; }, 250);
    EXPECT_EQ(due, c.expected) << c.what;
  }
}

TEST(Win32PendingEvents, RunsWhatWaitsAndLeavesAQuitForTheLoop) {
  int ran = 0;
  MessageWindow window([&](UINT message, WPARAM, LPARAM) {
    if (message == kOwnMessage) ++ran;
  });
  PostMessageW(window.handle(), kOwnMessage, 0, 0);
  PostMessageW(window.handle(), kOwnMessage, 0, 0);
  PostQuitMessage(3);
  Win32PendingEvents().Run();
  EXPECT_EQ(ran, 2);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
}

}  // namespace
}  // namespace torvo::win32
