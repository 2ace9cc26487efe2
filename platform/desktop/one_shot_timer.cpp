#include "platform/desktop/one_shot_timer.h"

#include <QTimer>

namespace torvo::desktop {

QtOneShotTimer::QtOneShotTimer() : timer_(std::make_unique<QTimer>()) {
  timer_->setSingleShot(true);
  QObject::connect(timer_.get(), &QTimer::timeout, [this] {
    if (Due) Due();
  });
}

QtOneShotTimer::~QtOneShotTimer() = default;

void QtOneShotTimer::Start(int ms) { timer_->start(ms); }

void QtOneShotTimer::Stop() { timer_->stop(); }

}  // namespace torvo::desktop
