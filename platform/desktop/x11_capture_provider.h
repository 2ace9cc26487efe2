#pragma once
// The screen of an X11 display as the capture source: the client area of the active window, or
// with no window manager the topmost window, or the whole screen.
#include "platform/capture_provider.h"
#include "platform/desktop/capture.h"

namespace torvo::desktop {

class X11CaptureProvider final : public CaptureProvider {
 public:
  // Connects to the display (DISPLAY) only when asked for a picture, and lets it go afterwards.
  std::unique_ptr<gdi::Bitmap> CaptureFront() override;

  // Where the last capture came from.
  CaptureSource lastSource() const { return lastSource_; }

 private:
  CaptureSource lastSource_ = CaptureSource::kWholeScreen;
};

}  // namespace torvo::desktop
