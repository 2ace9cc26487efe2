#include "sync/fetch_ahead.h"

#include <chrono>

namespace torvo::sync {

FetchAhead::FetchAhead(const FetchMaker& maker, int lanes, std::vector<std::string> urls, size_t window)
    : urls_(std::move(urls)), window_(window), replies_(urls_.size()) {
  const size_t count = std::min(static_cast<size_t>(lanes < 1 ? 1 : lanes), urls_.size());
  for (size_t i = 0; i < count; ++i) lanes_.emplace_back([this, fetch = maker(&stop_)] { Lane(fetch); });
}

FetchAhead::~FetchAhead() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& lane : lanes_) lane.join();
}

void FetchAhead::Lane(Fetch fetch) {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stop_ || (next_ < urls_.size() && next_ <= taken_ + window_); });
    if (stop_ || next_ >= urls_.size()) return;
    const size_t k = next_++;
    lock.unlock();
    HttpResult reply = fetch(urls_[k]);
    lock.lock();
    replies_[k] = std::move(reply);
    changed_.notify_all();
  }
}

HttpResult FetchAhead::Take(size_t k, const std::atomic<bool>* cancel) {
  std::unique_lock lock(mutex_);
  // The cancel flag belongs to the window: it is looked at often rather than waited on.
  while (!replies_[k]) {
    if (cancel && cancel->load()) {
      stop_ = true;
      changed_.notify_all();
      HttpResult aborted;
      aborted.error = "aborted";
      return aborted;
    }
    changed_.wait_for(lock, std::chrono::milliseconds(20));
  }
  HttpResult reply = std::move(*replies_[k]);
  // Replies passed over (an image found present after all) are not kept.
  for (size_t j = taken_; j <= k; ++j) replies_[j].reset();
  taken_ = k + 1;
  changed_.notify_all();
  return reply;
}

}  // namespace torvo::sync
