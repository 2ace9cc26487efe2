#pragma once
// What the imaging library asks of the desktop, served by Windows itself: the screen, the
// clipboard (the standard bitmap format, CF_DIB) and MessageBoxW.
#include "platform/desktop_services.h"

namespace torvo::win32 {

class Win32DesktopServices final : public DesktopServices {
 public:
  // Null when there is no screen to draw on.
  const gdi::DeviceContext* ScreenContext() override;
  // The bitmap (24 or 32 bits, bottom-up) as a 24-bit device-independent bitmap on the clipboard.
  bool PutBitmapOnClipboard(const gdi::Bitmap& bitmap) override;
  // MessageBoxW: modal, OK button, the program's name as title.
  void ShowMessage(std::u16string_view text) override;

 private:
  gdi::DeviceContext screen_{gdi::DeviceContext::kScreenBitsPerPixel};
};

}  // namespace torvo::win32
