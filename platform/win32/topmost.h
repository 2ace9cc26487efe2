#pragma once
// Windows that stay above the others without taking the focus from the window that has it.
#include <windows.h>

namespace torvo::win32 {

// Puts the window above every window that is not topmost, shown, neither moved, resized nor
// activated. Call before it is first shown and whenever it must come back on top.
void KeepOnTopWithoutFocus(HWND window);

}  // namespace torvo::win32
