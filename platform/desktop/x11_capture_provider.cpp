#include "platform/desktop/x11_capture_provider.h"

#include "platform/error.h"

namespace torvo::desktop {

std::unique_ptr<gdi::Bitmap> X11CaptureProvider::CaptureFront() {
  ScreenGrabber grabber;
  const ScreenArea area = grabber.ForegroundClientArea();
  lastSource_ = area.source;
  std::unique_ptr<gdi::Bitmap> bitmap = grabber.Grab(area, 0, 0, area.width, area.height);
  // The area is never empty, so only the memory can be missing.
  if (!bitmap) throw TorvoError(kErrPathFileAccess, ProgramName(), "화면을 캡처할 메모리가 부족합니다.");
  return bitmap;
}

}  // namespace torvo::desktop
