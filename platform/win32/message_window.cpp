#include "platform/win32/message_window.h"

#include <stdexcept>

namespace torvo::win32 {

namespace {
constexpr wchar_t kClassName[] = L"TorvoMessageWindow";

void RegisterOnce() {
  static const ATOM atom = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    return RegisterClassW(&wc);
  }();
  (void)atom;
}
}  // namespace

MessageWindow::MessageWindow(Handler handler) : handler_(std::move(handler)) {
  RegisterOnce();
  window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window_) throw std::runtime_error("cannot create a message window");
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure));
}

MessageWindow::~MessageWindow() {
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

void MessageWindow::Discard(UINT message) {
  MSG msg;
  while (PeekMessageW(&msg, window_, message, message, PM_REMOVE)) {
  }
}

LRESULT CALLBACK MessageWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MessageWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self && (message == WM_TIMER || message >= WM_APP)) {
    self->handler_(message, wParam, lParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace torvo::win32
