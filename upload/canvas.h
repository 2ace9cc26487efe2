#pragma once
// A drawing canvas that keeps what is drawn into it as a persistent image (the window's picture
// box): block transfers land in its bitmap, and whoever shows it is told to repaint.
#include <functional>
#include <memory>

#include "platform/gdi/gdi.h"

namespace torvo::upload {

class Canvas : public gdi::DeviceContext {
 public:
  // The background a cleared canvas shows (the window's face colour).
  static constexpr gdi::ColorRef kBackground = gdi::Rgb(0xF0, 0xF0, 0xF0);

  Canvas();

  // A new persistent image of width x height, showing the background.
  void Resize(int32_t width, int32_t height);
  // Erases the drawing: the canvas shows its background again.
  void Clear();

  int32_t width() const { return image_ ? image_->width() : 0; }
  int32_t height() const { return image_ ? image_->height() : 0; }
  // The persistent image (screen format, 32 bits per pixel).
  const gdi::Bitmap* Image() const { return image_.get(); }

  // Called after every change of the image (drawing, clearing, resizing).
  void SetRepaint(std::function<void()> repaint) { repaint_ = std::move(repaint); }

  void Changed(int32_t left, int32_t top, int32_t width, int32_t height) override;

 private:
  std::unique_ptr<gdi::Bitmap> image_;
  std::function<void()> repaint_;
};

}  // namespace torvo::upload
