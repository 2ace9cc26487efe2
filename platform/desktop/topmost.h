#pragma once
// Windows that stay above the others without taking the focus from the window that has it.
class QWidget;

namespace torvo::desktop {

// Call once before the window is first shown.
void MakeTopmostWithoutFocus(QWidget* window);

// On every paint: back to the top of the stacking order, shown, not moved, resized or activated.
void KeepOnTop(QWidget* window);

}  // namespace torvo::desktop
