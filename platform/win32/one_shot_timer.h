#pragma once
// The one-shot timer over the window thread's message loop (SetTimer on a message-only window).
#include "platform/one_shot_timer.h"
#include "platform/win32/message_window.h"

namespace torvo::win32 {

class Win32OneShotTimer final : public OneShotTimer {
 public:
  Win32OneShotTimer();
  ~Win32OneShotTimer() override;
  void Start(int ms) override;
  void Stop() override;

 private:
  MessageWindow window_;
  bool running_ = false;
};

}  // namespace torvo::win32
