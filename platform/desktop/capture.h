#pragma once
// Screen capture on X11: which window is in front, where its client area lies, and the pixels
// shown there. Plain xcb, so it works before the program has a window of its own.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/gdi/gdi.h"

struct xcb_connection_t;

namespace torvo::desktop {

enum class CaptureSource {
  kActiveWindow,   // the window manager's active window (_NET_ACTIVE_WINDOW)
  kTopmostWindow,  // no window manager: the topmost viewable top-level window
  kWholeScreen,    // no window in front, or one with an empty client area
};

// A window's client area: its own area inside any frame, in root coordinates.
struct ScreenArea {
  uint32_t window = 0;
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
  CaptureSource source = CaptureSource::kWholeScreen;
};

class ScreenGrabber {
 public:
  // Connects to the display named by DISPLAY; raises a TorvoError when there is none.
  ScreenGrabber();
  ~ScreenGrabber();
  ScreenGrabber(const ScreenGrabber&) = delete;
  ScreenGrabber& operator=(const ScreenGrabber&) = delete;

  // The client area of the window in front, never empty: the whole screen when no window is in
  // front or its client area is empty or lies wholly off the screen.
  ScreenArea ForegroundClientArea();

  // The pixels shown in width x height from (left, top) relative to the area's corner, as a
  // 24-bit bottom-up bitmap. Parts off the screen are black. Null when the size is not positive
  // or the memory cannot be had.
  std::unique_ptr<gdi::Bitmap> Grab(const ScreenArea& area, int32_t left, int32_t top, int32_t width,
                                    int32_t height);

  // Whether Grab may take the pixels through memory shared with the server (the default), where
  // the server offers it; else, or when the server refuses, they come through the socket.
  void UseSharedMemory(bool use) { useSharedMemory_ = use; }

  int32_t screenWidth() const { return screenWidth_; }
  int32_t screenHeight() const { return screenHeight_; }

 private:
  ScreenArea WholeScreen() const;
  bool ClientArea(uint32_t window, CaptureSource source, ScreenArea& area);
  uint32_t TopmostViewableChild();

  xcb_connection_t* connection_ = nullptr;
  uint32_t root_ = 0;
  int32_t screenWidth_ = 0;
  int32_t screenHeight_ = 0;
  uint8_t rootDepth_ = 0;
  uint32_t rootVisual_ = 0;
  bool useSharedMemory_ = true;
};

}  // namespace torvo::desktop
