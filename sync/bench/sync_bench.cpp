// Sync speed against a running service: the list alone, a sync that downloads every image, and a
// sync that finds every image present. run_sync_bench.sh starts the service, fills the album and
// compares with wget; run alone, set TORVO_BENCH_HOST (host:port) and TORVO_BENCH_ID (identity).
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/codepage.h"
#include "platform/http.h"
#include "sync/image_list.h"
#include "sync/sync_loop.h"
#include "sync/sync_session.h"

namespace {

using namespace torvo;
using namespace torvo::sync;

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

std::string ReadFile(const std::string& name) {
  if (name.empty()) return {};
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::filesystem::path NewFolder(const std::filesystem::path& base) {
  std::filesystem::create_directories(base);
  std::string pattern = (base / "run-XXXXXX").string();
  return mkdtemp(pattern.data());
}

struct Setting {
  std::string host = Env("TORVO_BENCH_HOST", "127.0.0.1:8765");
  std::u16string identity = FromUtf8(Env("TORVO_BENCH_ID", "bench"));
  // Each benchmark makes its own folders in a fresh one under TORVO_BENCH_DIR; nothing is removed.
  std::filesystem::path folder = NewFolder(Env("TORVO_BENCH_DIR", "/tmp/torvo-sync-bench"));
  int rounds = std::stoi(Env("TORVO_BENCH_ROUNDS", "5"));
  // The service as a connection names it ("https://127.0.0.1:8443/torvo/"), and a PEM file to
  // trust beside the system's: https through a proxy against plain http.
  std::string url = Env("TORVO_BENCH_URL", "");
  std::string trusted = ReadFile(Env("TORVO_BENCH_CA", ""));
};

const Setting& Settings() {
  static Setting setting;
  return setting;
}

SyncOutcome SyncOnce(benchmark::State& state, const std::filesystem::path& folder) {
  // A fresh client per sync: the connection is made inside the measured time, as on a first press.
  HttpClient client;
  client.SetExtraTrustedCertificates(Settings().trusted);
  SyncObserver observer;
  SyncOutcome outcome = RunSync({Settings().host, Settings().identity, folder, Settings().url},
                                [&](const std::string& url) { return client.Get(url); }, observer, nullptr,
                                HttpFetchMaker(Settings().trusted));
  if (outcome.end != SyncEnd::Finished || outcome.failed != 0) {
    state.SkipWithError(("sync did not finish cleanly: " + ToUtf8(DescribeOutcome(outcome))).c_str());
  }
  return outcome;
}

void ListFetch(benchmark::State& state) {
  const std::string address = Settings().url.empty() ? ListAddress(Settings().host, Settings().identity)
                                                     : ListUrl(Settings().url, Settings().identity);
  size_t bytes = 0;
  for (auto _ : state) {
    HttpClient client;
    client.SetExtraTrustedCertificates(Settings().trusted);
    HttpResult reply = client.Get(address);
    if (!reply.Success()) state.SkipWithError("the list could not be fetched");
    bytes = reply.body.size();
  }
  state.counters["list_bytes"] = static_cast<double>(bytes);
}

void SyncNonePresent(benchmark::State& state) {
  int items = 0;
  int run = 0;
  for (auto _ : state) {
    // A new folder each time and nothing deleted meanwhile: a file system that has just freed
    // a thousand inodes makes every new file slow to create, which no first sync meets.
    SyncOutcome outcome = SyncOnce(state, Settings().folder / ("none-present-" + std::to_string(run++)));
    items = outcome.itemCount;
    if (outcome.downloaded != outcome.itemCount) state.SkipWithError("not every image was downloaded");
  }
  state.counters["files"] = items;
  state.counters["files_per_second"] =
      benchmark::Counter(static_cast<double>(items) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void SyncAllPresent(benchmark::State& state) {
  const std::filesystem::path folder = Settings().folder / "all-present";
  {
    HttpClient client;
    client.SetExtraTrustedCertificates(Settings().trusted);
    SyncObserver observer;
    RunSync({Settings().host, Settings().identity, folder, Settings().url}, [&](const std::string& url) { return client.Get(url); },
            observer);
  }
  int items = 0;
  for (auto _ : state) {
    SyncOutcome outcome = SyncOnce(state, folder);
    items = outcome.itemCount;
    if (outcome.alreadyPresent != outcome.itemCount) state.SkipWithError("an image was fetched again");
  }
  state.counters["files"] = items;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("ListFetch", ListFetch)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
  benchmark::RegisterBenchmark("SyncNonePresent", SyncNonePresent)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->Iterations(Settings().rounds);
  benchmark::RegisterBenchmark("SyncAllPresent", SyncAllPresent)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->MinTime(0.5);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
