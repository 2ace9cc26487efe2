#include "upload/canvas.h"

namespace torvo::upload {

Canvas::Canvas() { Resize(1, 1); }

void Canvas::Resize(int32_t width, int32_t height) {
  auto image = gdi::CreateCompatibleBitmap(this, width, height);
  if (!image) return;
  SelectObject(image.get());
  image_ = std::move(image);
  Clear();
}

void Canvas::Clear() {
  SetBrushColor(kBackground);
  gdi::BitBlt(this, 0, 0, width(), height(), nullptr, 0, 0, gdi::Rop::kPatCopy);
}

void Canvas::Changed(int32_t, int32_t, int32_t, int32_t) {
  if (repaint_) repaint_();
}

}  // namespace torvo::upload
