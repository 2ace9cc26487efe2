#pragma once
// A capture source that hands out a picture it was given (or fails with a message it was given):
// the start-up without a screen, for tests and for benchmarks.
#include <memory>
#include <optional>
#include <string>

#include "platform/capture_provider.h"
#include "platform/error.h"

namespace torvo {

class FixedCaptureProvider final : public CaptureProvider {
 public:
  // Every capture is a copy of picture (any 24- or 32-bit bitmap; handed out as 24 bits).
  explicit FixedCaptureProvider(const gdi::Bitmap& picture);
  // Every capture raises this error.
  explicit FixedCaptureProvider(TorvoError failure);

  std::unique_ptr<gdi::Bitmap> CaptureFront() override;

  // How often CaptureFront was asked.
  int captures() const { return captures_; }

 private:
  std::unique_ptr<gdi::Bitmap> picture_;
  std::optional<TorvoError> failure_;
  int captures_ = 0;
};

}  // namespace torvo
