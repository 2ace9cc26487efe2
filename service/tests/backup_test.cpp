// A backup taken while uploads go on, restored into a new folder and served.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "service/store/sqlite_store.h"
#include "service_process.h"

namespace torvo::service::testing {
namespace {

TEST(Backup, TakenWhileUploadsGoOnRestoresEveryEntryAnsweredBefore) {
  TempDir dir;
  { SqliteStore store(dir.path()); store.AddUser("u1"); }
  ServiceProcess service(dir.path());
  std::mutex mutex;
  std::map<std::string, std::string> answered;  // title -> picture
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < 3; ++c) {
    clients.emplace_back([&, c] {
      for (int n = 0; !stop; ++n) {
        std::string title = "t" + std::to_string(c) + "-" + std::to_string(n);
        std::string png = MakePng(12000, static_cast<char>('a' + c)) + title;
        RawClient client(service.port());
        UploadFields fields;
        fields.title = title;
        client.Send(UploadRequest(fields, png));
        Reply reply = client.Read();
        if (reply.status == 200) {
          std::lock_guard lock(mutex);
          answered.emplace(title, png);
        }
      }
    });
  }
  while (true) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard lock(mutex);
    if (answered.size() >= 30) break;
  }
  std::map<std::string, std::string> before;
  {
    std::lock_guard lock(mutex);
    before = answered;
  }
  std::filesystem::path file = dir.path() / "album.torvo-backup";
  CommandResult backup = RunCommand({"backup", "--data", dir.path().string(), file.string()});
  stop = true;
  for (auto& client : clients) client.join();
  ASSERT_EQ(backup.exitCode, 0) << backup.out;
  EXPECT_EQ(service.Stop(), 0);

  TempDir restoredDir;
  std::filesystem::path restored = restoredDir.path() / "album";
  CommandResult restore = RunCommand({"restore", file.string(), "--data", restored.string()});
  ASSERT_EQ(restore.exitCode, 0) << restore.out;
  ServiceProcess again(restored);
  std::map<std::string, std::string> names;
  {
    SqliteStore store(restored);
    for (const auto& image : store.Images(store.FindUser("u1")->id)) names[image.title] = image.name;
  }
  for (const auto& [title, png] : before) {
    ASSERT_TRUE(names.count(title)) << title << " answered before the backup began";
    Reply reply = RawClient(again.port()).Get("/img/u1/" + names[title] + ".png");
    EXPECT_EQ(reply.status, 200) << title;
    EXPECT_EQ(reply.body, png) << title;
  }
  EXPECT_EQ(again.Stop(), 0);

  // Not into a folder that holds something, and not from a file that is no backup.
  EXPECT_EQ(RunCommand({"restore", file.string(), "--data", restored.string()}).exitCode, 1);
  std::ofstream(dir.path() / "junk") << "no backup at all";
  EXPECT_EQ(RunCommand({"restore", (dir.path() / "junk").string(), "--data", (restoredDir.path() / "other").string()}).exitCode, 1);
  std::string damaged;
  {
    std::ifstream in(file, std::ios::binary);
    damaged.assign((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  damaged[damaged.size() / 2] ^= 0x55;
  std::ofstream(dir.path() / "damaged", std::ios::binary) << damaged;
  EXPECT_EQ(RunCommand({"restore", (dir.path() / "damaged").string(), "--data", (restoredDir.path() / "third").string()}).exitCode, 1);
  std::cout << "[ backup   ] " << before.size() << " answered before the backup; " << backup.out;
}

}  // namespace
}  // namespace torvo::service::testing
