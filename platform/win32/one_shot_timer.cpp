#include "platform/win32/one_shot_timer.h"

#include <algorithm>

namespace torvo::win32 {

namespace {
constexpr UINT_PTR kTimerId = 1;
}

Win32OneShotTimer::Win32OneShotTimer()
    : window_([this](UINT message, WPARAM wParam, LPARAM) {
        if (message != WM_TIMER || wParam != kTimerId || !running_) return;
        Stop();
        if (Due) Due();
      }) {}

Win32OneShotTimer::~Win32OneShotTimer() { Stop(); }

void Win32OneShotTimer::Start(int ms) {
  // SetTimer with the same id restarts it; USER_TIMER_MINIMUM is the shortest it takes.
  SetTimer(window_.handle(), kTimerId, static_cast<UINT>(std::max(ms, 0)), nullptr);
  running_ = true;
}

void Win32OneShotTimer::Stop() {
  running_ = false;
  KillTimer(window_.handle(), kTimerId);
  window_.Discard(WM_TIMER);
}

}  // namespace torvo::win32
