#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/http.h"
#include "platform/tests/one_shot_server.h"

namespace torvo {
namespace {

using testing::OneShotServer;

// A window that closes asks a transfer stuck on a silent server to end: it ends as "aborted",
// long before the server's silence would time it out.
TEST(HttpClient, AnAbortEndsATransferStuckOnASilentServer) {
  OneShotServer server("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nfirst bytes", true);
  HttpTimeouts limits;
  limits.stallMs = 60000;
  limits.totalMs = 120000;
  HttpClient client(limits);
  std::atomic<bool> abort{false};
  client.SetAbortFlag(&abort);
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    abort = true;
  });
  HttpResult r = client.Get(server.Url("/imgList.php"));
  closer.join();
  EXPECT_FALSE(r.transportOk);
  EXPECT_EQ(r.error, "aborted");
  EXPECT_TRUE(r.body.empty());
}

}  // namespace
}  // namespace torvo
