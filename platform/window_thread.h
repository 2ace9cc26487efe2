#pragma once
// "Run this on the window's thread": how a worker thread hands a result to a window, which only
// its own thread may touch. Each desktop implements it over its own event loop.
#include <functional>

namespace torvo {

class WindowThread {
 public:
  virtual ~WindowThread() = default;
  // Queues the function to run on the window's thread, after the ones queued before it. Callable
  // from any thread. False when the window is gone: the function is dropped without running.
  virtual bool Post(std::function<void()> function) = 0;
};

}  // namespace torvo
