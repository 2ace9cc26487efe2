// The sync loop over real HTTP against a listener that misbehaves on purpose.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "raw_listener.h"
#include "sync/sync_loop.h"
#include "sync/sync_session.h"
#include "temp_folder.h"

namespace torvo::sync {
namespace {

using testing::Entries;
using testing::RawListener;
using testing::ReadFile;
using testing::TempFolder;

// Holds a connection open without a word until the listener goes away.
void Hang(testing::SocketHandle socket, RawListener& listener) {
  while (!listener.stopping()) {
    if (torvo::testing::WaitForInput(socket, 50)) return;  // the client hung up
  }
}

std::string ImageBytes(char tag) { return std::string("\x89PNG\r\n\x1A\n", 8) + std::string(3000, tag); }

bool Album(const std::string& target, testing::SocketHandle s, RawListener& l, const std::string& names) {
  if (target.starts_with("/imgList.php?tid=")) {
    RawListener::Send(s, RawListener::Ok(l.origin() + "/img" + names));
  } else if (target == "/img/a.png" || target == "/img/b.png" || target == "/img/c.png") {
    RawListener::Send(s, RawListener::Ok(ImageBytes(target[5])));
  } else if (target == "/img/drop.png") {
    // Promises 5000 bytes, sends 1000, hangs up.
    RawListener::Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(1000, 'x'));
    return false;
  } else if (target == "/img/stall-body.png") {
    RawListener::Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(1000, 'x'));
    Hang(s, l);
    return false;
  } else if (target == "/img/stall-head.png") {
    Hang(s, l);
    return false;
  } else {
    RawListener::Send(s, RawListener::Status(404, "Not Found", "<h1>404 Not Found</h1>"));
  }
  return true;
}

struct Timed {
  SyncOutcome outcome;
  double seconds;
};

// ahead: the images come over connections ahead of the loop, as in the window.
Timed SyncAgainst(RawListener& listener, const std::filesystem::path& folder, bool ahead, HttpTimeouts timeouts = {},
                  const std::atomic<bool>* abort = nullptr) {
  HttpClient client(timeouts);
  client.SetAbortFlag(abort);
  SyncObserver observer;
  auto start = std::chrono::steady_clock::now();
  SyncOutcome outcome = RunSync({"127.0.0.1:" + std::to_string(listener.port()), u"u 1", folder},
                                [&](const std::string& url) { return client.Get(url); }, observer, abort,
                                ahead ? HttpFetchMaker("", timeouts) : FetchMaker());
  return {outcome, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

TEST(SyncOverHttp, OneConnectionForEveryTransferAndOnlyGoodImagesWritten) {
  TempFolder home;
  RawListener listener([](const std::string& t, testing::SocketHandle s, RawListener& l) {
    return Album(t, s, l, "|a|../../escape|%2e%2e|missing|b|..\\x|c");
  });
  Timed run = SyncAgainst(listener, home.path() / "Torvo", false);
  EXPECT_EQ(run.outcome.end, SyncEnd::Finished);
  EXPECT_EQ(std::make_tuple(run.outcome.downloaded, run.outcome.failed), std::make_tuple(3, 4));
  EXPECT_EQ(listener.targets(), (std::vector<std::string>{"/imgList.php?tid=u%201", "/img/a.png", "/img/%252e%252e.png",
                                                          "/img/missing.png", "/img/b.png", "/img/c.png"}));
  EXPECT_EQ(listener.connections(), 1);
  EXPECT_EQ(Entries(home.path() / "Torvo"), (std::set<std::string>{"a.png", "b.png", "c.png"}));
  EXPECT_EQ(Entries(home.path()), std::set<std::string>{"Torvo"});
  EXPECT_EQ(ReadFile(home.path() / "Torvo" / "b.png"), ImageBytes('b'));
}

TEST(SyncOverHttp, AheadTheSameTransfersOverAFewConnectionsKeptOpen) {
  TempFolder home;
  std::string names;
  for (char name : std::string("abcabcabcabc")) names += std::string("|") + name + std::to_string(names.size());
  RawListener listener([&](const std::string& t, testing::SocketHandle s, RawListener& l) {
    // Every name is the image of its first letter.
    if (t.starts_with("/img/") && t.size() > 6) {
      RawListener::Send(s, RawListener::Ok(ImageBytes(t[5])));
      return true;
    }
    return Album(t, s, l, names);
  });
  Timed run = SyncAgainst(listener, home.path() / "Torvo", true);
  EXPECT_EQ(run.outcome.end, SyncEnd::Finished);
  EXPECT_EQ(run.outcome.downloaded, 12);
  std::vector<std::string> targets = listener.targets();
  std::sort(targets.begin() + 1, targets.end());
  EXPECT_EQ(targets.size(), 13u);
  EXPECT_EQ(targets.front(), "/imgList.php?tid=u%201");
  EXPECT_EQ(std::unique(targets.begin(), targets.end()), targets.end());
  // The list's connection and at most those ahead, kept open: not one for each transfer. (A
  // connection ahead may find nothing left to fetch, and WinINet pools connections.)
  EXPECT_LE(listener.connections(), 1 + kConnectionsAhead);
  for (const std::string& file : Entries(home.path() / "Torvo")) EXPECT_EQ(ReadFile(home.path() / "Torvo" / file), ImageBytes(file[0])) << file;
  EXPECT_EQ(Entries(home.path() / "Torvo").size(), 12u);
}

TEST(SyncOverHttp, BrokenTransfersStopTheSyncAndLeaveNoPartialFile) {
  struct Case {
    const char* name;
    std::u16string problem;
  } cases[] = {
      {"drop", u"The download of image 2 of 3 (drop.png) failed: Transferred a partial file."},
      {"stall-body", u"The download of image 2 of 3 (stall-body.png) failed: Timeout was reached."},
      {"stall-head", u"The download of image 2 of 3 (stall-head.png) failed: Timeout was reached."},
  };
  for (const Case& c : cases) {
    for (bool ahead : {false, true}) {
      SCOPED_TRACE(c.name);
      SCOPED_TRACE(ahead ? "ahead" : "one at a time");
      TempFolder home;
      std::string names = std::string("|a|") + c.name + "|b";
      RawListener listener([&](const std::string& t, testing::SocketHandle s, RawListener& l) { return Album(t, s, l, names); });
      Timed run = SyncAgainst(listener, home.path() / "Torvo", ahead, {2000, 4000, 1000});
      EXPECT_EQ(run.outcome.end, SyncEnd::TransferFailed);
      EXPECT_EQ(run.outcome.problem.substr(0, run.outcome.problem.find(u". The sync")) + u".",
                c.problem);
      EXPECT_EQ(Entries(home.path() / "Torvo"), std::set<std::string>{"a.png"});
      EXPECT_LT(run.seconds, 6.0);
    }
  }
}

TEST(SyncOverHttp, NoServiceIsAClearListFailure) {
  TempFolder home;
  int port;
  {
    RawListener gone([](const std::string&, int, RawListener&) { return false; });
    port = gone.port();
  }
  HttpClient client;
  SyncObserver observer;
  SyncOutcome outcome = RunSync({"127.0.0.1:" + std::to_string(port), u"u", home.path() / "Torvo"},
                                [&](const std::string& url) { return client.Get(url); }, observer);
  EXPECT_EQ(outcome.end, SyncEnd::ListFailed);
  EXPECT_EQ(outcome.problem, u"Could not get the image list from the service: Couldn't connect to server.");
  EXPECT_TRUE(Entries(home.path() / "Torvo").empty());
}

TEST(SyncOverHttp, AbortEndsAHangingTransferSoon) {
  for (bool ahead : {false, true}) {
    SCOPED_TRACE(ahead ? "ahead" : "one at a time");
    TempFolder home;
    RawListener listener([](const std::string& t, testing::SocketHandle s, RawListener& l) { return Album(t, s, l, "|a|stall-head|b"); });
    std::atomic<bool> abort{false};
    std::thread closer([&] {
      while (listener.targets().size() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      abort = true;
    });
    // Time-outs far beyond the test's patience: only the abort can end it.
    Timed run = SyncAgainst(listener, home.path() / "Torvo", ahead, {60000, 60000, 60000}, &abort);
    closer.join();
    EXPECT_EQ(run.outcome.end, SyncEnd::Cancelled);
    EXPECT_LT(run.seconds, 3.0);
    EXPECT_EQ(Entries(home.path() / "Torvo"), std::set<std::string>{"a.png"});
  }
}

}  // namespace
}  // namespace torvo::sync
