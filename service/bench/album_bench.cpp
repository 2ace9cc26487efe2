// Load on the shared album, with the service in this process on a loopback port: alice has
// 100,000 entries, half of them private, one in ten with a picture (the rest brought in from
// bookmark files), and shares her album. Timed, as a visitor without a cookie asks: the public
// list (any of its first hundred pages, a search, a folder), the picture wall (any of its first
// fifty pages), an entry's page, the Atom feed (whole, per folder, per search) and the private
// feed; p50 and p99 in ms. Fails when any answer is not the one expected, or holds a private entry.
//
//   service_album_bench [--entries N] [--requests N]
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "service/bench/latency_figures.h"
#include "service/exchanges/faults.h"
#include "service/exchanges/service.h"
#include "service/store/sqlite_store.h"

namespace {

using torvo::service::bench::Figures;
using torvo::service::bench::PercentEncode;
using torvo::service::bench::Percentiles;

using namespace torvo::service;
using Clock = std::chrono::steady_clock;

const std::vector<std::string> kWords = {"sharpened", "thumbnail", "recipe", "travel", "weather", "review", "camera",
                                         "keyboard",  "museum",    "garden", "여행",   "메모",    "사진",   "날씨",
                                         "음식",      "박물관",    "도서관", "제주",   "바다",    "산책"};

std::string Pick(std::mt19937& random) { return kWords[random() % kWords.size()]; }

std::string Sentence(std::mt19937& random, int words) {
  std::string out;
  for (int i = 0; i < words; ++i) {
    if (i) out += " ";
    out += Pick(random);
  }
  return out;
}

bool Report(const char* what, const Figures& f) {
  bool met = f.p99 < 50;
  std::printf("%-36s %5zu requests   p50 %7.2f ms   p99 %7.2f ms   max %7.2f ms%s\n", what, f.count, f.p50, f.p99, f.max,
              met ? "" : "   (p99 over 50 ms)");
  return met;
}

// A small valid PNG (1 x 1) made different by its seed.
std::string Png(int seed) {
  std::string png("\x89PNG\r\n\x1A\n", 8);
  auto chunk = [&](const std::string& type, const std::string& data) {
    auto put32 = [&](uint32_t v) {
      for (int s = 24; s >= 0; s -= 8) png += static_cast<char>((v >> s) & 0xFF);
    };
    put32(static_cast<uint32_t>(data.size()));
    std::string body = type + data;
    png += body;
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char b : body) {
      crc ^= b;
      for (int k = 0; k < 8; ++k) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    put32(crc ^ 0xFFFFFFFF);
  };
  chunk("IHDR", std::string("\0\0\0\1\0\0\0\1\x08\0\0\0\0", 13));
  chunk("tEXt", "seed\0" + std::to_string(seed));
  chunk("IDAT", std::string("\x78\x9C\x63\x60\x00\x00\x00\x02\x00\x01", 10));
  chunk("IEND", "");
  return png;
}

}  // namespace

int main(int argc, char** argv) {
  int entries = 100000;
  int requests = 400;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--entries") entries = std::atoi(argv[i + 1]);
    else if (option == "--requests") requests = std::atoi(argv[i + 1]);
  }
  auto dir = std::filesystem::temp_directory_path() / ("torvo-album-bench-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::mt19937 random(23);

  std::time_t now = std::time(nullptr) - 3 * 365 * 24 * 3600;
  SqliteStore store(dir, [&now] { return now; });
  User alice = store.AddAccount("alice", "alice-toolbar");
  for (const char* name : {"여행", "업무", "요리", "읽을거리"}) store.AddFolder(alice.id, name);
  User bob = store.AddAccount("bob", "bob-toolbar");

  auto started = Clock::now();
  int pictures = 0;
  for (int i = 0; i < entries; ++i) {
    now += 3 * 365 * 24 * 3600 / entries;
    NewImage fields;
    fields.folder = static_cast<int32_t>(random() % 5);
    fields.isPublic = random() % 2 == 0;
    fields.url = "https://" + Pick(random) + ".example/" + std::to_string(i);
    // Private entries alone hold the word "secretword": no public answer may show it.
    fields.title = Sentence(random, 3 + static_cast<int>(random() % 5)) + (fields.isPublic ? "" : " secretword");
    fields.note = random() % 2 ? Sentence(random, 5 + static_cast<int>(random() % 20)) : "";
    if (i % 10 == 0) {
      store.AddImage(alice.id, fields, Png(i));
      ++pictures;
    } else {
      store.AddEntry(alice.id, fields, now);
    }
    if (i % 5 == 0) {  // someone else's entries in the same tables
      fields.folder = 0;
      store.AddEntry(bob.id, fields, now);
    }
  }
  store.SetSharing(alice.id, true, "");
  store.ReplaceFeedSecret(alice.id, "bench-private-feed-secret");
  std::printf("album: %d entries of alice (half private, %d with a picture) and %d of bob in %.1f s\n", entries, pictures,
              entries / 5, std::chrono::duration<double>(Clock::now() - started).count());

  FaultBoard faults;
  ServiceOptions options;
  options.port = 0;
  Service service(store, faults, options, nullptr);
  int port = service.Bind();
  if (port < 0) {
    std::cerr << "cannot bind\n";
    return 1;
  }
  std::thread server([&] { service.Run(); });
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);

  int errors = 0;
  // Each answer must be 200, hold what marks its kind, and never the private entries' word.
  auto timed = [&](const std::string& path, const char* mark, std::vector<double>& into, bool privateFeed = false) {
    auto start = Clock::now();
    auto reply = client.Get(path);
    into.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (!reply || reply->status != 200 || reply->body.find(mark) == std::string::npos ||
        (!privateFeed && reply->body.find("secretword") != std::string::npos)) {
      if (++errors < 5) std::fprintf(stderr, "unexpected answer to %s: %d\n", path.c_str(), reply ? reply->status : -1);
    }
  };
  for (int i = 0; i < 20; ++i) {
    std::vector<double> ignored;
    timed("/u/alice/", "<li class=\"entry\"", ignored);
  }

  std::vector<double> list, search, folder, wall, entry, feed, feedFolder, feedSearch, mine;
  for (int i = 0; i < requests; ++i) {
    int page = i % 4 == 0 ? 1 : 1 + static_cast<int>(random() % 100);
    timed("/u/alice/?page=" + std::to_string(page), "<li class=\"entry\"", list);
    timed("/u/alice/?q=" + PercentEncode(Pick(random)), "<li class=\"entry\"", search);
    timed("/u/alice/?folder=" + std::to_string(random() % 5) + "&page=" + std::to_string(1 + random() % 20),
          "<li class=\"entry\"", folder);
    timed("/u/alice/wall?page=" + std::to_string(i % 4 == 0 ? 1 : 1 + random() % 50), "<ul class=\"wall\"><li>", wall);
  }
  // Entry pages of public entries, their ids as the list names them.
  std::vector<std::string> ids;
  {
    auto page = client.Get("/u/alice/?page=7");
    std::string body = page ? page->body : "";
    for (size_t at = body.find("id=\"e"); at != std::string::npos; at = body.find("id=\"e", at + 1)) {
      ids.push_back(body.substr(at + 5, body.find('"', at + 5) - at - 5));
    }
  }
  for (int i = 0; i < requests && !ids.empty(); ++i) timed("/u/alice/e/" + ids[i % ids.size()], "og:title", entry);
  for (int i = 0; i < requests / 2; ++i) {
    timed("/u/alice/feed.atom", "<entry>", feed);
    timed("/u/alice/feed.atom?folder=" + std::to_string(random() % 5), "<entry>", feedFolder);
    timed("/u/alice/feed.atom?q=" + PercentEncode(Pick(random)), "<entry>", feedSearch);
    timed("/feed/bench-private-feed-secret.atom", "secretword", mine, true);
  }
  std::printf("\n");
  bool met = true;
  met &= Report("public list (pages 1-100)", Percentiles(list));
  met &= Report("public list, a search", Percentiles(search));
  met &= Report("public list, a folder (pages 1-20)", Percentiles(folder));
  met &= Report("picture wall (pages 1-50)", Percentiles(wall));
  met &= Report("an entry's page", Percentiles(entry));
  met &= Report("feed (newest 50)", Percentiles(feed));
  met &= Report("feed of a folder", Percentiles(feedFolder));
  met &= Report("feed of a search", Percentiles(feedSearch));
  met &= Report("private feed (every entry)", Percentiles(mine));
  std::printf("unexpected answers: %d\n", errors);

  service.Stop();
  server.join();
  std::filesystem::remove_all(dir);
  return errors == 0 ? 0 : 1;
}
