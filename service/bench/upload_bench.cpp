// Uploads per second through the real upload exchange: torvo-service started from its binary,
// one process and then two on the same store (two on one data folder share its SQLite database in
// WAL mode; on PostgreSQL they share the database), and clients sending pages byte for byte as the
// upload tool does, a connection each, spread over the processes. Afterwards every answered
// upload must be in the store once, under a name of its own, with its picture whole.
//
//   service_upload_bench [--uploads N] [--clients N] [--size BYTES] [--database URL]
// With --database, on that PostgreSQL database (an empty one); service/bench/with_postgres.sh
// starts one of its own.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "service/bench/latency_figures.h"
#include "service/store/store.h"
#include "service/tests/service_process.h"

namespace {

using namespace torvo::service;
using torvo::service::bench::Percentiles;
using namespace torvo::service::testing;
using Clock = std::chrono::steady_clock;

std::string Load() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

struct Round {
  double seconds = 0;
  std::vector<double> milliseconds;
  std::map<std::string, int> names;  // answered name -> the upload it answered
  int failed = 0;
};

// `uploads` pages from `clients` clients at once, upload i to process i % ports.size().
Round Upload(const std::vector<int>& ports, int uploads, int clients, size_t size, const std::string& tag) {
  Round round;
  std::vector<std::string> answers(static_cast<size_t>(uploads));
  std::vector<double> times(static_cast<size_t>(uploads));
  std::atomic<int> next{0};
  auto started = Clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      for (int i; (i = next++) < uploads;) {
        UploadFields fields;
        fields.tid = "bench-toolbar";
        fields.url = "http://upload.example/" + tag + "/" + std::to_string(i);
        fields.title = tag + " " + std::to_string(i);
        std::string request = UploadRequest(fields, MakePng(size, static_cast<char>('a' + i % 26)));
        auto start = Clock::now();
        try {
          RawClient client(ports[static_cast<size_t>(i) % ports.size()]);
          client.Send(request);
          Reply reply = client.Read();
          answers[static_cast<size_t>(i)] = std::to_string(reply.status) + " " + reply.body;
        } catch (const std::exception& error) {
          answers[static_cast<size_t>(i)] = error.what();
        }
        times[static_cast<size_t>(i)] = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      }
    });
  }
  for (auto& t : threads) t.join();
  round.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  round.milliseconds = times;
  const std::regex stored("200 ([0-9]{14})\\.png");
  for (int i = 0; i < uploads; ++i) {
    std::smatch match;
    if (std::regex_match(answers[static_cast<size_t>(i)], match, stored) && !round.names.count(match[1])) {
      round.names[match[1]] = i;
    } else {
      ++round.failed;
      if (round.failed <= 3) std::printf("  upload %d answered: %s\n", i, answers[static_cast<size_t>(i)].substr(0, 120).c_str());
    }
  }
  return round;
}

// Every answered upload of this round stored once under its answered name, its picture whole.
bool Check(Store& store, int64_t userId, const Round& round, const std::string& tag, size_t size, int uploads) {
  int found = 0, wrong = 0;
  for (const Image& image : store.Images(userId)) {
    if (!image.title.starts_with(tag + " ")) continue;
    ++found;
    auto answered = round.names.find(image.name);
    std::optional<std::string> png = store.Picture(image);
    if (answered == round.names.end() || image.title != tag + " " + std::to_string(answered->second) || !png ||
        png->size() != size) {
      ++wrong;
    }
  }
  std::printf("  stored: %d of %d answered (%d refused or unanswered), %d wrong\n", found,
              static_cast<int>(round.names.size()), round.failed, wrong);
  return round.failed == 0 && wrong == 0 && found == uploads && static_cast<int>(round.names.size()) == uploads;
}

}  // namespace

int main(int argc, char** argv) {
  int uploads = 400, clients = 8;
  size_t size = 40000;  // a thumbnail is tens of KB
  std::string database;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--uploads") uploads = std::max(1, std::atoi(argv[i + 1]));
    else if (option == "--clients") clients = std::max(1, std::atoi(argv[i + 1]));
    else if (option == "--size") size = static_cast<size_t>(std::max(200, std::atoi(argv[i + 1])));
    else if (option == "--database") database = argv[i + 1];
    else {
      std::cerr << "usage: service_upload_bench [--uploads N] [--clients N] [--size BYTES] [--database URL]\n";
      return 2;
    }
  }
  TempDir dir;
  const std::filesystem::path data = dir.path() / "data";
  StoreLocation location{data, database};
  int64_t userId = 0;
  std::string described;
  {
    auto store = OpenStore(location);
    userId = store->AddAccount("bench", "bench-toolbar").id;
    described = store->Describe();
  }
  std::vector<std::string> extra;
  if (!database.empty()) extra = {"--database", database};
  std::printf("uploads of %zu bytes through the upload exchange, %d clients, store: %s\n", size, clients, described.c_str());

  bool sound = true;
  for (int processes : {1, 2}) {
    std::vector<std::unique_ptr<ServiceProcess>> services;
    std::vector<int> ports;
    for (int p = 0; p < processes; ++p) {
      // Each process's log beside the data folder (the same folder on SQLite).
      std::filesystem::path own = database.empty() ? data : dir.path() / ("process" + std::to_string(p));
      std::filesystem::create_directories(own);
      services.push_back(std::make_unique<ServiceProcess>(own, extra));
      ports.push_back(services.back()->port());
    }
    std::string tag = "processes" + std::to_string(processes);
    std::string load = Load();
    Round round = Upload(ports, uploads, clients, size, tag);
    auto figures = Percentiles(round.milliseconds);
    std::printf("%d process%s: %d uploads in %.2f s = %.1f uploads/s; each p50 %.1f ms, p99 %.1f ms; load %s\n", processes,
                processes == 1 ? "" : "es", uploads, round.seconds, uploads / round.seconds, figures.p50, figures.p99,
                load.c_str());
    for (auto& service : services) {
      if (service->Stop() != 0) {
        std::printf("  a service did not stop cleanly:\n%s\n", service->Log().c_str());
        sound = false;
      }
    }
    auto store = OpenStore(location);
    sound = Check(*store, userId, round, tag, size, uploads) && sound;
  }
  std::printf("%s\n", sound ? "every upload stored once, under its own name, picture whole"
                            : "FAILED: uploads lost, doubled, refused or damaged");
  return sound ? 0 : 1;
}
