// Three service processes on one PostgreSQL database behind Debian's haproxy: uploads and reads
// through the proxy while one process is killed and started again.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "service/store/accounts.h"
#include "service/store/postgres_store.h"
#include "service_process.h"
#include "test_store.h"

namespace torvo::service::testing {
namespace {

// haproxy in front of the processes. A process counts as down after two failed health checks,
// not one: a busy process answers /health late (it waits for a database connection behind the
// uploads), and with every process marked down haproxy answers 503 to everybody.
class Haproxy {
 public:
  Haproxy(const std::filesystem::path& dir, int port, const std::vector<int>& servers) {
    std::filesystem::path config = dir / "haproxy.cfg";
    std::ofstream out(config);
    out << "global\n  maxconn 500\ndefaults\n  mode http\n  timeout connect 2s\n  timeout client 30s\n"
           "  timeout server 30s\n  timeout check 10s\n  retries 3\n  option redispatch\n"
           "frontend torvo\n  bind 127.0.0.1:" << port << "\n  default_backend services\n"
           "backend services\n  balance roundrobin\n  option httpchk GET /health\n  http-check expect status 200\n"
           "  default-server check inter 500ms fall 2 rise 1\n";
    for (size_t i = 0; i < servers.size(); ++i) out << "  server s" << i << " 127.0.0.1:" << servers[i] << "\n";
    out.close();
    pid_ = fork();
    if (pid_ == 0) {
      execlp("haproxy", "haproxy", "-db", "-q", "-f", config.c_str(), nullptr);
      _exit(127);
    }
    for (int i = 0; i < 100; ++i) {
      httplib::Client client("127.0.0.1", port);
      if (auto reply = client.Get("/health"); reply && reply->status == 200) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    throw std::runtime_error("haproxy did not answer");
  }
  ~Haproxy() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

TEST(SeveralProcesses, ThreeBehindHaproxyWithOneKilledInTheMiddle) {
  TempDir dir;
  std::string url = PostgresCluster::Shared().NewSchema();
  {
    PostgresStore store(url);
    User alice = store.AddAccount("alice", "alice-id");
    store.SetPasswordHash(alice.id, HashPassword("alice's password"));
  }
  std::vector<int> ports{FreePort(), FreePort(), FreePort()};
  std::vector<std::unique_ptr<ServiceProcess>> services;
  for (int port : ports) {
    services.push_back(std::make_unique<ServiceProcess>(dir.path(), std::vector<std::string>{"--database", url, "--port", std::to_string(port)}));
  }
  int proxyPort = FreePort();
  Haproxy proxy(dir.path(), proxyPort, ports);
  // The readers' web session, made before the load begins: the sign-in hashes the password, which
  // under the address sanitizer behind twenty uploads on two cores took longer than the client's
  // wait, and a failed assertion with the threads below running ends the whole program.
  const std::string readerCookie = WebSessionCookie(proxyPort, "name=alice&password=alice%27s+password");
  ASSERT_FALSE(readerCookie.empty());

  // Twenty clients upload 200 pages through the proxy while four read the lists, pages and searches.
  std::mutex mutex;
  std::map<std::string, std::string> answered;  // title -> picture
  std::map<std::string, int> failures;          // why an upload got no good reply -> how often
  std::atomic<int> uploads{0}, failedUploads{0}, reads{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int c = 0; c < 20; ++c) {
    threads.emplace_back([&, c] {
      for (int n = 0; n < 10; ++n) {
        std::string title = "page-" + std::to_string(c) + "-" + std::to_string(n);
        std::string png = MakePng(15000, static_cast<char>('a' + c)) + title;
        try {
          RawClient client(proxyPort);
          UploadFields fields;
          fields.tid = "alice-id";
          fields.title = title;
          client.Send(UploadRequest(fields, png));
          Reply reply = client.Read();
          if (reply.complete && reply.status == 200 && reply.body.ends_with(".png")) {
            std::lock_guard lock(mutex);
            answered.emplace(title, png);
          } else {
            ++failedUploads;
            std::lock_guard lock(mutex);
            failures[reply.complete ? "status " + std::to_string(reply.status) + " " + reply.body.substr(0, 60)
                                    : reply.closed ? "closed without a reply" : "no reply in time"]++;
          }
        } catch (const std::exception& error) {
          ++failedUploads;
          std::lock_guard lock(mutex);
          failures[error.what()]++;
        }
        ++uploads;
      }
    });
  }
  // The readers: TorvoSync's list, and alice's page and a search on it in her browser, whichever
  // process haproxy picks.
  std::atomic<int> pageReads{0}, searches{0};
  for (int r = 0; r < 4; ++r) {
    threads.emplace_back([&, r] {
      httplib::Client client("127.0.0.1", proxyPort);
      for (int n = r; !done; ++n) {
        if (n % 3 == 0) {
          auto list = client.Get("/imgList.php?tid=alice-id");
          if (list && list->status == 200) ++reads;
        } else {
          const bool search = n % 3 == 2;
          auto page = client.Get(search ? "/?q=page" : "/", {{"Cookie", readerCookie}});
          if (page && page->status == 200) ++(search ? searches : pageReads);  // signed out would be 303
        }
      }
    });
  }
  while (uploads < 60) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  services[1]->Kill();
  services[1] = std::make_unique<ServiceProcess>(dir.path(), std::vector<std::string>{"--database", url, "--port", std::to_string(ports[1])});
  for (int c = 0; c < 20; ++c) threads[static_cast<size_t>(c)].join();
  done = true;
  for (size_t t = 20; t < threads.size(); ++t) threads[t].join();

  PostgresStore store(url);
  int64_t alice = store.FindUserByName("alice")->id;
  auto images = store.Images(alice);
  std::map<std::string, int> stored;
  std::set<std::string> names;
  for (const auto& image : images) {
    ++stored[image.title];
    EXPECT_TRUE(names.insert(image.name).second) << image.name;
  }
  for (const auto& [title, png] : answered) EXPECT_EQ(stored[title], 1) << title;
  // At most the uploads in hand on the killed process go unanswered.
  EXPECT_GE(answered.size(), 180u);
  EXPECT_GT(reads.load(), 0);
  EXPECT_GT(pageReads.load(), 0);
  EXPECT_GT(searches.load(), 0);

  // Every process serves every picture.
  for (int port : ports) {
    httplib::Client client("127.0.0.1", port);
    for (const auto& image : images) {
      auto reply = client.Get("/img/alice-id/" + image.name + ".png");
      ASSERT_TRUE(reply);
      ASSERT_EQ(reply->status, 200) << image.name;
      if (answered.count(image.title)) EXPECT_EQ(reply->body, answered[image.title]) << image.name;
    }
  }

  // Signed in through one process, the session works through the others.
  auto origin = [](int port) { return "http://127.0.0.1:" + std::to_string(port); };
  const std::string cookie = WebSessionCookie(ports[0], "name=alice&password=alice%27s+password");
  ASSERT_FALSE(cookie.empty());
  for (int port : ports) {
    httplib::Client client("127.0.0.1", port);
    auto page = client.Get("/settings", {{"Cookie", cookie}});
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200) << port;
  }

  // Wrong passwords spread over the processes are one count: the fourth is slowed wherever it goes.
  std::vector<int> statuses;
  for (int i = 0; i < SignInThrottle::kFreeFailures + 1; ++i) {
    int port = ports[static_cast<size_t>(i) % ports.size()];
    httplib::Client client("127.0.0.1", port);
    auto reply = client.Post("/signin", {{"Origin", origin(port)}}, "name=alice&password=wrong", "application/x-www-form-urlencoded");
    statuses.push_back(reply ? reply->status : 0);
  }
  EXPECT_EQ(statuses, (std::vector<int>{401, 401, 401, 429}));
  std::cout << "[ processes] " << answered.size() << " of 200 uploads answered, " << failedUploads << " failed, "
            << images.size() << " stored, " << reads << " list reads, " << pageReads << " pages and " << searches
            << " searches read\n";
  for (const auto& [why, count] : failures) std::cout << "[ processes] " << count << " x " << why << "\n";
  for (auto& service : services) EXPECT_EQ(service->Stop(), 0);
}

}  // namespace
}  // namespace torvo::service::testing
