// Two service processes on one PostgreSQL through Debian's pgbouncer: uploads through both, the
// list and a Korean search through each, a web session signed in on one used on the other.
#include <gtest/gtest.h>
#include <httplib.h>
#include <libpq-fe.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "service/store/accounts.h"
#include "service/store/postgres_store.h"
#include "service_process.h"
#include "test_store.h"

namespace torvo::service::testing {
namespace {

class Pgbouncer {
 public:
  // Pools the database of `target` (a connection string of the shared cluster) as "torvo".
  Pgbouncer(const std::filesystem::path& dir, const std::string& database, const std::string& mode, int poolSize)
      : port_(FreePort()) {
    GiveToUnprivileged(dir);
    std::ofstream(dir / "users.txt") << "\"torvo\" \"\"\n";
    std::ofstream config(dir / "pgbouncer.ini");
    config << "[databases]\ntorvo = host=127.0.0.1 port=" << PostgresCluster::Shared().port() << " dbname=" << database
           << " user=torvo\n[pgbouncer]\nlisten_addr = 127.0.0.1\nlisten_port = " << port_
           << "\nunix_socket_dir =\nauth_type = trust\nauth_file = " << (dir / "users.txt").string()
           << "\npool_mode = " << mode << "\ndefault_pool_size = " << poolSize
           << "\nmax_client_conn = 100\nquery_wait_timeout = 20\n";
    config.close();
    pid_ = StartUnprivileged({"/usr/sbin/pgbouncer", (dir / "pgbouncer.ini").string()}, dir / "pgbouncer.log");
    for (int i = 0; i < 100; ++i) {
      if (PQping(Url().c_str()) == PQPING_OK) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    throw std::runtime_error("pgbouncer did not answer; see " + (dir / "pgbouncer.log").string());
  }
  ~Pgbouncer() {
    kill(pid_, SIGINT);
    waitpid(pid_, nullptr, 0);
  }
  std::string Url() const { return "host=127.0.0.1 port=" + std::to_string(port_) + " user=torvo dbname=torvo"; }

 private:
  int port_;
  pid_t pid_ = -1;
};

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

struct PoolCase {
  const char* mode;
  int poolSize;  // server connections pgbouncer opens at most, for 2 processes x 4 of theirs
};

class ThroughPgbouncer : public ::testing::TestWithParam<PoolCase> {};

TEST_P(ThroughPgbouncer, TwoProcessesShareUploadsSearchAndSessions) {
  TempDir dir;
  std::string database = PostgresCluster::Shared().NewDatabase("UTF8", "C.UTF-8");
  database = database.substr(database.rfind('=') + 1);
  Pgbouncer bouncer(dir.path(), database, GetParam().mode, GetParam().poolSize);
  std::string url = bouncer.Url();
  ASSERT_EQ(RunCommand({"user", "add", "--database", url, "alice", "--toolbar-id", "alice-id"}).exitCode, 0);
  {
    PostgresStore store(url);
    store.SetPasswordHash(store.FindUserByName("alice")->id, HashPassword("alice's password"));
  }
  ServiceProcess one(dir.path(), {"--database", url});
  ServiceProcess two(dir.path(), {"--database", url});
  const int ports[] = {one.port(), two.port()};

  // Four clients upload 24 pages at once, alternating between the processes.
  std::mutex mutex;
  std::map<std::string, std::string> answered;  // name -> picture
  std::vector<std::thread> clients;
  for (int c = 0; c < 4; ++c) {
    clients.emplace_back([&, c] {
      for (int n = 0; n < 6; ++n) {
        UploadFields fields;
        fields.tid = "alice-id";
        fields.title = "page " + std::to_string(c * 10 + n) + (n % 3 == 0 ? " \xC1\xA6\xC1\xD6 \xBF\xA9\xC7\xE0" : "");  // 제주 여행, code page 949
        std::string png = MakePng(8000, static_cast<char>('a' + c)) + fields.title;
        RawClient client(ports[(c + n) % 2]);
        client.Send(UploadRequest(fields, png));
        Reply reply = client.Read();
        if (reply.status != 200 || !reply.body.ends_with(".png")) continue;
        std::string name = reply.body.substr(reply.body.rfind('/') + 1);
        std::lock_guard lock(mutex);
        answered.emplace(name.substr(0, name.size() - 4), png);
      }
    });
  }
  for (auto& client : clients) client.join();
  EXPECT_EQ(answered.size(), 24u);

  // Signed in on one, the session and its form token work on the other.
  auto origin = [](int port) { return "http://127.0.0.1:" + std::to_string(port); };
  const std::string cookie = WebSessionCookie(ports[0], "name=alice&password=alice%27s+password");
  ASSERT_FALSE(cookie.empty());

  for (int port : ports) {
    httplib::Client client("127.0.0.1", port);
    // Every picture from every process, whichever took the upload.
    for (const auto& [name, png] : answered) {
      auto picture = client.Get("/img/alice-id/" + name + ".png");
      ASSERT_TRUE(picture);
      EXPECT_EQ(picture->status, 200) << name;
      EXPECT_EQ(picture->body, png) << name;
    }
    auto list = client.Get("/imgList.php?tid=alice-id");
    ASSERT_TRUE(list);
    EXPECT_EQ(Count(list->body, "|"), 24) << port;
    auto page = client.Get("/", {{"Cookie", cookie}});
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200) << port;
    EXPECT_EQ(Count(page->body, "<li class=\"entry\""), 24) << port;
    auto found = client.Get("/?q=%EC%97%AC%ED%96%89", {{"Cookie", cookie}});  // 여행
    ASSERT_TRUE(found);
    EXPECT_EQ(Count(found->body, "<li class=\"entry\""), 8) << port;
  }
  // A form of the session posted through the other process: a folder both then list.
  httplib::Client second("127.0.0.1", ports[1]);
  auto folders = second.Get("/folders", {{"Cookie", cookie}});
  ASSERT_TRUE(folders);
  std::smatch csrf;
  ASSERT_TRUE(std::regex_search(folders->body, csrf, std::regex("name=\"csrf\" value=\"([^\"]+)\"")));
  auto added = second.Post("/folders/add", {{"Cookie", cookie}, {"Origin", origin(ports[1])}},
                           "csrf=" + csrf[1].str() + "&name=%EC%97%AC%ED%96%89", "application/x-www-form-urlencoded");
  ASSERT_TRUE(added);
  EXPECT_EQ(added->status, 303);
  httplib::Client first("127.0.0.1", ports[0]);
  auto seen = first.Get("/folders", {{"Cookie", cookie}});
  ASSERT_TRUE(seen);
  EXPECT_NE(seen->body.find("value=\"\xEC\x97\xAC\xED\x96\x89\""), std::string::npos);
  EXPECT_EQ(one.Stop(), 0);
  EXPECT_EQ(two.Stop(), 0);
}

// Session pooling keeps a server connection per service connection: the pool holds all eight.
// Transaction pooling shares three among the eight, one transaction at a time.
INSTANTIATE_TEST_SUITE_P(Modes, ThroughPgbouncer,
                         ::testing::Values(PoolCase{"session", 10}, PoolCase{"transaction", 3}),
                         [](const auto& info) { return std::string(info.param.mode); });

}  // namespace
}  // namespace torvo::service::testing
