#pragma once
// The browser's own picture of the visible page, handed over by the toolbar's host, as the
// capture source: exactly what the user sees, on every desktop, without other windows over it.
#include <future>
#include <memory>

#include "platform/capture_provider.h"
#include "platform/picture_handover.h"

namespace torvo::upload {

class BrowserPictureCaptureProvider final : public CaptureProvider {
 public:
  explicit BrowserPictureCaptureProvider(HandedOverPicture picture) : picture_(std::move(picture)) {}
  // Waits for a decoding that was started.
  ~BrowserPictureCaptureProvider() override;

  // Decodes the picture on a thread of its own from now on, so that it is ready by the time the
  // start-up asks for it (after the folder list): the second core does it while the toolkit
  // starts. Without this call CaptureFront decodes it itself.
  void StartDecoding();

  // The PNG as a 24-bit bitmap; a picture that could not be read or decoded raises a TorvoError
  // with the message for the user. The picture is given once.
  std::unique_ptr<gdi::Bitmap> CaptureFront() override;

 private:
  HandedOverPicture picture_;
  std::future<std::unique_ptr<gdi::Bitmap>> decoding_;
};

}  // namespace torvo::upload
