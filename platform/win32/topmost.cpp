#include "platform/win32/topmost.h"

namespace torvo::win32 {

void KeepOnTopWithoutFocus(HWND window) {
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

}  // namespace torvo::win32
