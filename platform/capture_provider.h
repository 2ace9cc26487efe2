#pragma once
// Where the picture the thumbnail is made from comes from. The start-up asks one of these and
// does not care which: a new source is a new class, not a change to the start-up.
#include <memory>

#include "platform/gdi/gdi.h"

namespace torvo {

// One source of the picture the thumbnail is made from: the screen (X11 today, Win32 later),
// the desktop portal, or a picture the browser handed over.
class CaptureProvider {
 public:
  virtual ~CaptureProvider() = default;
  // The picture in front as a 24-bit bottom-up bitmap, never empty. Raises TorvoError carrying a
  // message meant for the user when this source cannot give one.
  virtual std::unique_ptr<gdi::Bitmap> CaptureFront() = 0;
};

}  // namespace torvo
