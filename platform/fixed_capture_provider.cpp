#include "platform/fixed_capture_provider.h"

#include <cstring>

namespace torvo {

namespace {

// A 24-bit copy of a 24- or 32-bit bitmap; null when the memory cannot be had.
std::unique_ptr<gdi::Bitmap> Copy24(const gdi::Bitmap& from) {
  auto copy = gdi::Bitmap::Create(from.width(), from.height(), 24);
  if (!copy) return nullptr;
  const int32_t step = from.bytesPerPixel();
  for (int32_t r = 0; r < from.height(); ++r) {
    const uint8_t* in = from.ScanLine(r);
    uint8_t* out = copy->ScanLine(r);
    if (step == 3) {
      std::memcpy(out, in, static_cast<size_t>(from.width()) * 3);
      continue;
    }
    for (int32_t x = 0; x < from.width(); ++x, in += step, out += 3) std::memcpy(out, in, 3);
  }
  return copy;
}

}  // namespace

FixedCaptureProvider::FixedCaptureProvider(const gdi::Bitmap& picture) : picture_(Copy24(picture)) {
  if (!picture_) failure_ = TorvoError(kErrPathFileAccess, ProgramName(), "no memory for the picture to hand out");
}

FixedCaptureProvider::FixedCaptureProvider(TorvoError failure) : failure_(std::move(failure)) {}

std::unique_ptr<gdi::Bitmap> FixedCaptureProvider::CaptureFront() {
  ++captures_;
  if (failure_) throw *failure_;
  auto copy = Copy24(*picture_);
  if (!copy) throw TorvoError(kErrPathFileAccess, ProgramName(), "no memory for the picture to hand out");
  return copy;
}

}  // namespace torvo
