#pragma once
// The browser's own picture of the visible page, handed over by the toolbar's host, as the
// capture source: exactly what the user sees, on every desktop, without other windows over it.
#include "platform/capture_provider.h"
#include "platform/picture_handover.h"

namespace torvo::upload {

class BrowserPictureCaptureProvider final : public CaptureProvider {
 public:
  explicit BrowserPictureCaptureProvider(HandedOverPicture picture) : picture_(std::move(picture)) {}
  // The PNG as a 24-bit bitmap; a picture that could not be read or decoded raises a TorvoError
  // with the message for the user.
  std::unique_ptr<gdi::Bitmap> CaptureFront() override;

 private:
  HandedOverPicture picture_;
};

}  // namespace torvo::upload
