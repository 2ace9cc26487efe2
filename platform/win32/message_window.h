#pragma once
// A message-only window (no screen, no focus) whose messages go to one handler: where socket
// and timer events of the window's thread are delivered by its message loop.
#include <windows.h>

#include <functional>

namespace torvo::win32 {

class MessageWindow {
 public:
  using Handler = std::function<void(UINT message, WPARAM wParam, LPARAM lParam)>;
  explicit MessageWindow(Handler handler);
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  HWND handle() const { return window_; }
  // Drops the messages of this kind that wait in the queue for this window.
  void Discard(UINT message);

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  Handler handler_;
  HWND window_ = nullptr;
};

// The first message number a MessageWindow's owner may use for its own events.
inline constexpr UINT kOwnMessage = WM_APP + 0x100;

}  // namespace torvo::win32
