#pragma once
// A progress bar on standard error while an operation works on a big picture, drawn from the
// processor's own events: InitProgress starts a bar, every Progress moves it, Complete clears it.
// Only when standard error is a terminal, and only once a pass has run for a moment, so quick
// runs and scripts see nothing. Handlers already installed (--events) keep running first.
// Any operation can use it: construct one on the processor before running.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "imaging/cDIBSection.h"
#include "imaging/cImageProcessDIB.h"

namespace torvo::image_tool {

class ProgressBar {
 public:
  static constexpr int64_t kBigPicture = 1000000;  // pixels
  static constexpr int kCells = 40;

  ProgressBar(cImageProcessDIB& processor, const cDIBSection& picture)
      : processor_(processor), saved_(processor.events) {
    if (!isatty(STDERR_FILENO)) return;
    if (static_cast<int64_t>(picture.Width()) * picture.Height() < kBigPicture) return;
    auto& events = processor_.events;
    events.InitProgress = [this, before = saved_.InitProgress](int32_t lMax) {
      if (before) before(lMax);
      Start(lMax);
    };
    events.Progress = [this, before = saved_.Progress](int32_t lPosition) {
      if (before) before(lPosition);
      Advance(lPosition);
    };
    events.Complete = [this, before = saved_.Complete](int32_t lTimeMs) {
      if (before) before(lTimeMs);
      Clear();
    };
  }

  ~ProgressBar() {
    processor_.events = saved_;
    Clear();
  }

  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

 private:
  using Clock = std::chrono::steady_clock;

  void Start(int32_t lMax) {
    last_ = lMax;
    started_ = Clock::now();
    shown_ = -1;
  }

  void Advance(int32_t lPosition) {
    if (last_ < 0) return;
    const int percent = static_cast<int>((static_cast<int64_t>(lPosition) + 3) * 100 / (static_cast<int64_t>(last_) + 3));
    if (percent == shown_) return;
    if (!drawn_ && Clock::now() - started_ < std::chrono::milliseconds(300)) return;
    char cells[kCells + 1];
    const int full = percent * kCells / 100;
    for (int i = 0; i < kCells; ++i) cells[i] = i < full ? '#' : '.';
    cells[kCells] = '\0';
    std::fprintf(stderr, "\r[%s] %3d%%", cells, percent);
    std::fflush(stderr);
    drawn_ = true;
    shown_ = percent;
  }

  void Clear() {
    if (!drawn_) return;
    std::fprintf(stderr, "\r%*s\r", kCells + 7, "");
    std::fflush(stderr);
    drawn_ = false;
  }

  cImageProcessDIB& processor_;
  cImageProcessDIB::Events saved_;
  int32_t last_ = -1;
  Clock::time_point started_;
  int shown_ = -1;
  bool drawn_ = false;
};

}  // namespace torvo::image_tool
