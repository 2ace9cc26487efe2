#include "sync/image_fetcher.h"

#include <algorithm>
#include <chrono>

namespace torvo::sync {

ImageFetcher::ImageFetcher(const Fetch& fetch, const FetchMaker& maker, int connections,
                           const std::atomic<bool>* cancel, int ahead, size_t maxHeldBytes)
    : fetch_(fetch),
      maker_(maker),
      connections_(maker ? std::max(connections, 0) : 0),
      cancel_(cancel),
      ahead_(static_cast<size_t>(std::max(ahead, 1))),
      maxHeldBytes_(maxHeldBytes) {}

ImageFetcher::~ImageFetcher() { Stop(); }

void ImageFetcher::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  // Whatever is still on its way is no longer wanted.
  abort_ = true;
  roomAhead_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
}

void ImageFetcher::Plan(std::vector<Planned> plan) {
  if (connections_ == 0 || plan.empty() || !workers_.empty()) return;
  plan_ = std::move(plan);
  replies_.resize(plan_.size());
  const int count = static_cast<int>(std::min<size_t>(static_cast<size_t>(connections_), plan_.size()));
  for (int c = 0; c < count; ++c) workers_.emplace_back([this, fetch = maker_(&abort_)] { Work(fetch); });
}

void ImageFetcher::Work(Fetch fetch) {
  for (;;) {
    size_t place;
    {
      std::unique_lock lock(mutex_);
      roomAhead_.wait(lock, [&] {
        next_ = std::max(next_, taken_);
        return stopping_ || abort_ || (next_ < plan_.size() && next_ < taken_ + ahead_ &&
                             (heldBytes_ < maxHeldBytes_ || next_ == taken_));
      });
      // Once aborted, nothing more is fetched ahead.
      if (stopping_ || abort_) return;
      place = next_++;
    }
    ++fetchedAhead_;
    HttpResult reply = fetch(plan_[place].url);
    std::lock_guard lock(mutex_);
    if (place >= taken_ && !stopping_) {
      heldBytes_ += reply.body.size();
      replies_[place] = std::move(reply);
      replied_.notify_one();
    }
  }
}

HttpResult ImageFetcher::Get(int item, const std::string& url) {
  std::unique_lock lock(mutex_);
  size_t place = taken_;
  while (place < plan_.size() && plan_[place].item < item) ++place;
  // Planned items passed over are not wanted any more.
  for (size_t dropped = taken_; dropped < place; ++dropped) {
    if (replies_[dropped]) heldBytes_ -= replies_[dropped]->body.size();
    replies_[dropped].reset();
  }
  if (place > taken_) {
    taken_ = place;
    roomAhead_.notify_all();
  }
  if (place >= plan_.size() || plan_[place].item != item || plan_[place].url != url) {
    lock.unlock();
    return fetch_(url);
  }
  while (!replies_[place]) {
    if (cancel_ && cancel_->load()) {
      abort_ = true;
      HttpResult aborted;
      aborted.error = "aborted";
      aborted.failure = HttpResult::Failure::kOther;
      return aborted;
    }
    // The window's cancel is looked at now and then: a transfer ahead may be slow to end.
    replied_.wait_for(lock, std::chrono::milliseconds(20));
  }
  HttpResult reply = std::move(*replies_[place]);
  replies_[place].reset();
  heldBytes_ -= reply.body.size();
  taken_ = place + 1;
  roomAhead_.notify_one();
  return reply;
}

}  // namespace torvo::sync
