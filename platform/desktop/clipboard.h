#pragma once
// What the imaging library asks of the desktop (the screen's drawing context, the clipboard and
// message boxes), served by Qt. A program with a QApplication installs QtDesktopServices with
// SetDesktopServices; a command-line tool without one uses PutOnClipboardAndServe.
#include <functional>
#include <string_view>

#include "platform/desktop_services.h"
#include "platform/gdi/gdi.h"

namespace torvo::desktop {

class QtDesktopServices final : public DesktopServices {
 public:
  // Null when the application has no screen.
  const gdi::DeviceContext* ScreenContext() override;
  // The bitmap (24 or 32 bits, bottom-up) becomes an image on the system clipboard.
  bool PutBitmapOnClipboard(const gdi::Bitmap& bitmap) override;
  // desktop::ShowMessage: modal, OK button, the program's name as title.
  void ShowMessage(std::u16string_view text) override;

 private:
  gdi::DeviceContext screen_{gdi::DeviceContext::kScreenBitsPerPixel};
};

// On X11 the clipboard's content lives in the program that put it there. For a tool that ends
// at once, this runs put(services) in a child process with its own QApplication, where put
// installs the services and copies; that child keeps the content available until another
// program takes the clipboard over. Returns what put() returned there; false without a display.
bool PutOnClipboardAndServe(const std::function<bool(QtDesktopServices& services)>& put);

}  // namespace torvo::desktop
