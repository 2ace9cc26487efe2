#pragma once
// Fetches the images a sync is going to ask for ahead of it, over a few connections of their own,
// so that the service sends one image while the last one travels and the one before is written.
// The sync still takes the replies one after the other, in its own order, and decides about each
// item as before: a reply fetched ahead that it no longer wants is simply dropped.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/http.h"

namespace torvo::sync {

// Blocking GET of a request target, as HttpClient::Get.
using Fetch = std::function<HttpResult(const std::string& url)>;

// Makes one more fetch over a connection of its own. While *abort is true its transfers end soon as
// a transport failure. Each fetch made is called from one thread at a time.
using FetchMaker = std::function<Fetch(const std::atomic<bool>* abort)>;

class ImageFetcher {
 public:
  struct Planned {
    int item = 0;  // from 1, rising
    std::string url;
  };

  // fetch serves every address that was not planned. With a maker, `connections` fetches of its
  // making fetch the plan ahead, at most `ahead` replies beyond the item asked for last. Without
  // one, every Get fetches there and then. The replies ahead are many more than the connections:
  // a loop held up by one slow file (the disk, a large image) then finds the next ones waiting,
  // where with a few the connections would have stood idle meanwhile.
  ImageFetcher(const Fetch& fetch, const FetchMaker& maker, int connections, const std::atomic<bool>* cancel,
               int ahead = 32, size_t maxHeldBytes = 32u << 20);
  // Stops fetching ahead, aborts the transfers under way and waits for them.
  ~ImageFetcher();
  ImageFetcher(const ImageFetcher&) = delete;
  ImageFetcher& operator=(const ImageFetcher&) = delete;

  // The items the sync is going to ask for, in its order. Called once, before the first Get.
  void Plan(std::vector<Planned> plan);
  // Transfers started ahead so far, for the tests.
  int FetchedAhead() const { return fetchedAhead_; }
  // The reply for item at url: the one fetched ahead when it was planned so, waiting for it, or
  // else one fetched now. Items are asked for in rising order; planned items passed over are
  // dropped. A cancel while waiting gives the transport failure "aborted".
  HttpResult Get(int item, const std::string& url);

 private:
  void Work(Fetch fetch);
  void Stop();

  const Fetch& fetch_;
  const FetchMaker& maker_;
  const int connections_;
  const std::atomic<bool>* cancel_;
  const size_t ahead_;
  // Replies fetched ahead wait in memory up to about this many bytes (and one more fetch per
  // connection); the reply asked for is always fetched.
  const size_t maxHeldBytes_;

  std::mutex mutex_;
  std::condition_variable roomAhead_;  // for the connections: a place to fetch, or stop
  std::condition_variable replied_;    // for Get: a reply came
  std::vector<Planned> plan_;
  std::vector<std::optional<HttpResult>> replies_;  // by place in the plan
  size_t next_ = 0;    // the place in the plan the next free connection fetches
  size_t taken_ = 0;   // the places before this one are taken or dropped
  size_t heldBytes_ = 0;
  bool stopping_ = false;
  std::atomic<int> fetchedAhead_{0};
  std::atomic<bool> abort_{false};
  std::vector<std::thread> workers_;
};

}  // namespace torvo::sync
