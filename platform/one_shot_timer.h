#pragma once
// A timer that fires once, from the program's event loop; a desktop implements it over its own.
#include <functional>

namespace torvo {

class OneShotTimer {
 public:
  virtual ~OneShotTimer() = default;
  // (Re)starts the timer: Due is called once, ms milliseconds from now, unless stopped first.
  virtual void Start(int ms) = 0;
  virtual void Stop() = 0;

  std::function<void()> Due;
};

}  // namespace torvo
