#pragma once
// Puts downloaded images in place on a thread of its own, in the order they came, so that the next
// transfer runs while the disk is busy with the last image.
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace torvo::sync {

class ImageWriter {
 public:
  struct Failure {
    int item = 0;  // from 1
    std::filesystem::path target;
    std::string error;
  };

  // At most maxPendingBytes of images wait in memory; Write blocks beyond that. ownThread false:
  // Write puts the image in place itself before it returns, for a sync whose transfers run on
  // threads of their own already: a hand-over per image costs more than it overlaps then.
  static constexpr size_t kMaxPendingBytes = 64u << 20;
  explicit ImageWriter(size_t maxPendingBytes = kMaxPendingBytes, bool ownThread = true);
  ~ImageWriter();
  ImageWriter(const ImageWriter&) = delete;
  ImageWriter& operator=(const ImageWriter&) = delete;

  // Queues the image for WriteFileWhole. After a failure nothing more is written.
  void Write(int item, std::filesystem::path target, std::string bytes);
  // The first failure so far, without waiting.
  std::optional<Failure> FirstFailure() const;
  // Waits until every queued image is written (or dropped after a failure).
  void Finish();
  // Images put in place so far.
  int Written() const;

 private:
  struct Job {
    int item;
    std::filesystem::path target;
    std::string bytes;
  };
  void Run();
  // The thread starts with the first image: a sync that finds every image present needs none.
  void StartLocked();

  const size_t maxPendingBytes_;
  const bool ownThread_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  size_t pendingBytes_ = 0;
  bool busy_ = false;
  bool stopping_ = false;
  int written_ = 0;
  std::optional<Failure> failure_;
  std::thread thread_;
};

}  // namespace torvo::sync
