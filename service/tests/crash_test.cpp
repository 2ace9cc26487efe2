// Uploads cut off by SIGKILL of the service at random moments, on both stores: after the restart
// every upload that got its reply is stored once with its picture, and nothing is left half-done.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "service/store/sqlite_store.h"
#include "service_process.h"
#include "test_store.h"

namespace torvo::service::testing {
namespace {

class CrashTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    setenv("TORVO_TEST_STORE", GetParam(), 1);
    auto store = OpenTestStore(dir_.path());
    store->AddUser("u1");
  }
  void TearDown() override { unsetenv("TORVO_TEST_STORE"); }
  TempDir dir_;
};

// Four clients upload pictures of their own until the service dies; the titles of those answered.
std::map<std::string, std::string> UploadUntilKilled(ServiceProcess& service, int cycle, std::mt19937& random) {
  std::mutex mutex;
  std::map<std::string, std::string> answered;  // title -> picture
  std::atomic<bool> dead{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < 4; ++c) {
    clients.emplace_back([&, c] {
      for (int n = 0; !dead; ++n) {
        std::string title = "c" + std::to_string(cycle) + "-" + std::to_string(c) + "-" + std::to_string(n);
        std::string png = MakePng(20000 + static_cast<size_t>(n % 7) * 3000, static_cast<char>('a' + (cycle + c + n) % 26));
        png += title;  // every picture its own bytes
        try {
          RawClient client(service.port());
          UploadFields fields;
          fields.title = title;
          client.Send(UploadRequest(fields, png));
          Reply reply = client.Read();
          if (reply.complete && reply.status == 200 && reply.body.ends_with(".png")) {
            std::lock_guard lock(mutex);
            answered.emplace(title, png);
          }
        } catch (const std::exception&) {
          return;  // the service is gone
        }
      }
    });
  }
  // The kill falls at a random moment among the uploads, once this start has answered one: how long
  // a start takes to serve depends on the machine (a sanitized build on a loaded one takes seconds),
  // and a cycle killed before it serves tests nothing. A start that answers nothing in a minute fails.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    {
      std::lock_guard lock(mutex);
      if (!answered.empty()) break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "no upload answered within a minute of the start";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 300)(random)));
  service.Kill();
  dead = true;
  for (auto& client : clients) client.join();
  return answered;
}

TEST_P(CrashTest, UploadsKilledAtRandomMomentsLeaveNothingHalfDone) {
  std::mt19937 random(20261209);
  std::map<std::string, std::string> answered;
  constexpr int kKills = 50;
  for (int cycle = 0; cycle < kKills; ++cycle) {
    ServiceProcess service(dir_.path());
    auto got = UploadUntilKilled(service, cycle, random);
    answered.insert(got.begin(), got.end());
  }
  ServiceProcess restarted(dir_.path());  // the start after the last crash tidies up
  EXPECT_EQ(restarted.Stop(), 0);

  auto store = OpenTestStore(dir_.path());
  int64_t user = store->FindUser("u1")->id;
  auto images = store->Images(user);
  std::map<std::string, int> seen;
  std::set<std::string> names;
  for (const auto& image : images) {
    ++seen[image.title];
    EXPECT_TRUE(names.insert(image.name).second) << "name handed out twice: " << image.name;
    auto picture = store->Picture(image);
    ASSERT_TRUE(picture) << "an entry without its picture: " << image.title;
    EXPECT_EQ(picture->size(), static_cast<size_t>(image.size)) << image.title;
    // Any stored entry, answered or cut off before its reply, holds the whole picture it was sent.
    EXPECT_TRUE(picture->ends_with(image.title)) << image.title;
  }
  int lost = 0;
  for (const auto& [title, png] : answered) {
    if (seen[title] != 1) ++lost;
  }
  EXPECT_EQ(lost, 0) << "of " << answered.size() << " answered uploads";
  EXPECT_GE(answered.size(), static_cast<size_t>(kKills));  // every start answered before its kill
  for (const auto& image : images) {
    if (answered.count(image.title)) EXPECT_EQ(store->Picture(image), answered[image.title]) << image.title;
  }
  if (auto* sqlite = dynamic_cast<SqliteStore*>(store.get())) {
    // No picture without its entry: every file under images/ is some row's.
    size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path() / "images")) {
      if (entry.is_regular_file()) ++files;
    }
    EXPECT_EQ(files, images.size());
    (void)sqlite;
  }
  std::cout << "[ crash    ] " << GetParam() << ": " << kKills << " kills, " << answered.size() << " answered uploads, "
            << images.size() << " stored\n";
}

INSTANTIATE_TEST_SUITE_P(BothStores, CrashTest, ::testing::Values("sqlite", "postgresql"));

}  // namespace
}  // namespace torvo::service::testing
