#pragma once
// The capture source of a Wayland session when the browser handed over no picture (TorvoTool
// started by hand, or the browser refused to capture): there the X11 screen shows no native
// Wayland window, so the desktop portal is asked; without a portal the X11 screen serves only
// when an X11 window (through XWayland) has the focus. Anything else would be a black or a
// foreign picture, so it says that nothing can capture instead.
#include <chrono>

#include "platform/capture_provider.h"

namespace torvo::upload {

// The Wayland session's display variable is set (and not empty).
bool IsWaylandSession();

class WaylandCaptureProvider final : public CaptureProvider {
 public:
  // How long the portal may take, its permission dialog included.
  explicit WaylandCaptureProvider(std::chrono::milliseconds portalTimeout = std::chrono::seconds(60))
      : portalTimeout_(portalTimeout) {}
  std::unique_ptr<gdi::Bitmap> CaptureFront() override;

 private:
  std::chrono::milliseconds portalTimeout_;
};

}  // namespace torvo::upload
