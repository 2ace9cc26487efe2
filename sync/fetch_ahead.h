#pragma once
// The images of one sync fetched ahead of the loop on several connections at once, handed back
// in the order they were asked for. One connection waits a whole round trip for every image;
// several keep the service busy while the loop writes. At most `window` replies are held beyond
// the one the loop waits for, so memory stays bounded whatever the album's size.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/http.h"
#include "sync/sync_loop.h"

namespace torvo::sync {

class FetchAhead {
 public:
  // One thread and connection per lane (at least one); urls are fetched in order.
  FetchAhead(const FetchMaker& maker, int lanes, std::vector<std::string> urls, size_t window);
  // Stops the running transfers and waits for the lanes.
  ~FetchAhead();
  FetchAhead(const FetchAhead&) = delete;
  FetchAhead& operator=(const FetchAhead&) = delete;

  // The reply for urls[k], k greater than at the last call (the urls between are passed over).
  // Waits for it; once *cancel is true the transfers stop and the reply is a failure ("aborted").
  HttpResult Take(size_t k, const std::atomic<bool>* cancel);

 private:
  void Lane(Fetch fetch);

  std::vector<std::string> urls_;
  size_t window_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t next_ = 0;   // the next url a lane takes
  size_t taken_ = 0;  // replies handed to the loop
  std::vector<std::optional<HttpResult>> replies_;
  std::vector<std::thread> lanes_;
};

}  // namespace torvo::sync
