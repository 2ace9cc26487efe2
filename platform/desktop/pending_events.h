#pragma once
// The events waiting in Qt's event loop, run from inside a handler.
#include <QCoreApplication>

#include "platform/pending_events.h"

namespace torvo::desktop {

class QtPendingEvents final : public PendingEvents {
 public:
  void Run() override { QCoreApplication::processEvents(); }
};

}  // namespace torvo::desktop
