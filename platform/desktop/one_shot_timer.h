#pragma once
// The one-shot timer over Qt's event loop.
#include <memory>

#include "platform/one_shot_timer.h"

class QTimer;

namespace torvo::desktop {

class QtOneShotTimer final : public OneShotTimer {
 public:
  QtOneShotTimer();
  ~QtOneShotTimer() override;
  void Start(int ms) override;
  void Stop() override;

 private:
  std::unique_ptr<QTimer> timer_;
};

}  // namespace torvo::desktop
