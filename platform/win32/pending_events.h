#pragma once
// The messages waiting in this thread's queue, dispatched from inside a handler.
#include "platform/pending_events.h"

namespace torvo::win32 {

class Win32PendingEvents final : public PendingEvents {
 public:
  // A quit message found meanwhile is posted again, for the message loop that is to end.
  void Run() override;
};

}  // namespace torvo::win32
