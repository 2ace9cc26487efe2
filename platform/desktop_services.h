#pragma once
// What the imaging library needs of the desktop (the screen's drawing context, the clipboard,
// message boxes), kept behind an interface so the library itself stays free of any toolkit. Each
// desktop implements it (platform/desktop/ with Qt) and a program installs its implementation at
// start-up; without one there is no screen, and operations that need it report failure.
#include <string_view>

#include "platform/gdi/gdi.h"

namespace torvo {

class DesktopServices {
 public:
  virtual ~DesktopServices() = default;

  // The screen's drawing context (the desktop window's), or null when there is no display.
  // Owned by the services; valid until the services are replaced.
  virtual const gdi::DeviceContext* ScreenContext() = 0;

  // Opens the clipboard, empties it, hands it the bitmap as the standard bitmap format and
  // closes it. True when the clipboard accepted the bitmap; the clipboard keeps its own copy.
  virtual bool PutBitmapOnClipboard(const gdi::Bitmap& bitmap) = 0;

  // A modal message box with an OK button and the program's title.
  virtual void ShowMessage(std::u16string_view text) = 0;
};

// The process-wide services; null until a program installs them. Not owned.
DesktopServices* TheDesktopServices();
void SetDesktopServices(DesktopServices* services);

}  // namespace torvo
