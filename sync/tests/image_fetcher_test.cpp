#include "sync/image_fetcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace torvo::sync {
namespace {

using namespace std::chrono_literals;

HttpResult Reply(std::string body) { return {true, 200, std::move(body), ""}; }

std::vector<ImageFetcher::Planned> Plan(int items) {
  std::vector<ImageFetcher::Planned> plan;
  for (int i = 1; i <= items; ++i) {
    std::string url = "/";
    url += std::to_string(i);
    plan.push_back({i, std::move(url)});
  }
  return plan;
}

// Waits until the fetcher has started at least `count` transfers ahead (false after 5 s), then a
// little longer, so that one too many would have started by then.
bool SettlesAt(const ImageFetcher& fetcher, int count) {
  for (auto until = std::chrono::steady_clock::now() + 5s; fetcher.FetchedAhead() < count;) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(5ms);
  }
  std::this_thread::sleep_for(150ms);
  return true;
}

TEST(ImageFetcher, FetchesAheadNoFurtherThanItMayHold) {
  struct Case {
    const char* what;
    int connections, ahead;
    size_t replyBytes, maxHeld;
    int least, most;  // transfers started ahead while the loop asks for nothing
  } cases[] = {
      {"by count", 3, 5, 10, 1 << 20, 5, 5},
      // 3 replies pass the limit; the other connection may have started one more meanwhile.
      {"by bytes", 2, 50, 1000, 2500, 3, 4},
      {"one connection", 1, 4, 10, 1 << 20, 4, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Fetch own = [](const std::string& url) { return Reply("own " + url); };
    const FetchMaker maker = [&](const std::atomic<bool>*) -> Fetch {
      return [&](const std::string& url) { return Reply(url + std::string(c.replyBytes - url.size(), '.')); };
    };
    ImageFetcher fetcher(own, maker, c.connections, nullptr, c.ahead, c.maxHeld);
    fetcher.Plan(Plan(40));
    ASSERT_TRUE(SettlesAt(fetcher, c.least));
    EXPECT_LE(fetcher.FetchedAhead(), c.most);
    // Each reply taken makes room for one more; a planned item passed over is dropped.
    EXPECT_EQ(fetcher.Get(1, "/1").body.substr(0, 2), "/1");
    EXPECT_EQ(fetcher.Get(3, "/3").body.substr(0, 2), "/3");
    // Asked for an item that was not planned, or at another address, the loop's own fetch answers.
    EXPECT_EQ(fetcher.Get(4, "/elsewhere").body, "own /elsewhere");
    EXPECT_EQ(fetcher.Get(41, "/41").body, "own /41");
    EXPECT_LE(fetcher.FetchedAhead(), 40);
  }
}

TEST(ImageFetcher, ACancelEndsTheWaitAndAbortsTheTransfersAhead) {
  std::atomic<bool> cancel{false};
  std::atomic<int> aborted{0};
  const Fetch own = [](const std::string& url) { return Reply(url); };
  // Transfers that hang until their abort flag is raised.
  const FetchMaker maker = [&](const std::atomic<bool>* abort) -> Fetch {
    return [&, abort](const std::string&) {
      while (!abort->load()) std::this_thread::sleep_for(1ms);
      ++aborted;
      return HttpResult{false, 0, "", "aborted"};
    };
  };
  std::thread window([&] {
    std::this_thread::sleep_for(100ms);
    cancel = true;
  });
  const auto start = std::chrono::steady_clock::now();
  {
    ImageFetcher fetcher(own, maker, 3, &cancel);
    fetcher.Plan(Plan(10));
    HttpResult reply = fetcher.Get(1, "/1");
    EXPECT_FALSE(reply.transportOk);
    EXPECT_EQ(reply.error, "aborted");
  }
  window.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_EQ(aborted.load(), 3);
}

}  // namespace
}  // namespace torvo::sync
