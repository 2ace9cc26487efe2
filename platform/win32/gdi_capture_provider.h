#pragma once
// The picture in front on Windows, through GDI: the foreground window's client area (the whole
// screen when no window is in front or its client area is empty), copied with BitBlt into a
// 24-bit DIB section, as the programs were drawn to take it.
#include "platform/capture_provider.h"

namespace torvo::win32 {

class GdiCaptureProvider final : public CaptureProvider {
 public:
  std::unique_ptr<gdi::Bitmap> CaptureFront() override;
};

}  // namespace torvo::win32
