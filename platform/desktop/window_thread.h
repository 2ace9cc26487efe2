#pragma once
// Functions run on a Qt window's thread through its event loop; once the window is deleted Qt
// drops what is still queued for it.
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include "platform/window_thread.h"

namespace torvo::desktop {

class QtWindowThread final : public WindowThread {
 public:
  explicit QtWindowThread(QObject* window) : window_(window) {}
  bool Post(std::function<void()> function) override {
    return QMetaObject::invokeMethod(window_, std::move(function), Qt::QueuedConnection);
  }

 private:
  QObject* window_;
};

}  // namespace torvo::desktop
