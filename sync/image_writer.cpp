#include "sync/image_writer.h"

#include "sync/album_folder.h"

namespace torvo::sync {

ImageWriter::ImageWriter(size_t maxPendingBytes, bool ownThread)
    : maxPendingBytes_(maxPendingBytes), ownThread_(ownThread) {}

ImageWriter::~ImageWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ImageWriter::StartLocked() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void ImageWriter::Write(int item, std::filesystem::path target, std::string bytes) {
  std::unique_lock lock(mutex_);
  if (!ownThread_) {
    if (failure_) return;
    lock.unlock();
    std::optional<std::string> error = WriteFileWhole(target, bytes);
    lock.lock();
    if (error) {
      failure_ = Failure{item, std::move(target), *error};
    } else {
      ++written_;
    }
    return;
  }
  // One image larger than the limit still goes, alone.
  changed_.wait(lock, [&] { return jobs_.empty() || pendingBytes_ + bytes.size() <= maxPendingBytes_; });
  if (failure_) return;
  StartLocked();
  pendingBytes_ += bytes.size();
  jobs_.push_back({item, std::move(target), std::move(bytes)});
  changed_.notify_all();
}

std::optional<ImageWriter::Failure> ImageWriter::FirstFailure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void ImageWriter::Finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return jobs_.empty() && !busy_; });
}

int ImageWriter::Written() const {
  std::lock_guard lock(mutex_);
  return written_;
}

void ImageWriter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
    // Whatever was queued is written before the thread ends: those images are whole downloads.
    if (jobs_.empty()) return;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    lock.unlock();
    std::optional<std::string> error = WriteFileWhole(job.target, job.bytes);
    lock.lock();
    busy_ = false;
    pendingBytes_ -= job.bytes.size();
    if (error) {
      failure_ = Failure{job.item, job.target, *error};
      // The disk refused one image; the ones behind it would meet the same.
      for (const Job& dropped : jobs_) pendingBytes_ -= dropped.bytes.size();
      jobs_.clear();
    } else {
      ++written_;
    }
    changed_.notify_all();
  }
}

}  // namespace torvo::sync
