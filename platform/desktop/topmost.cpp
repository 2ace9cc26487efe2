#include "platform/desktop/topmost.h"

#include <QWidget>

namespace torvo::desktop {

void MakeTopmostWithoutFocus(QWidget* window) {
  window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
  // The hint alone makes the window manager activate it; this keeps the focus where it is.
  window->setAttribute(Qt::WA_ShowWithoutActivating, true);
}

void KeepOnTop(QWidget* window) {
  if (!window->isVisible()) window->show();
  window->raise();
}

}  // namespace torvo::desktop
