#pragma once
// Takes the picture the thumbnail is made from: the client area of the window in front (this
// program's window is not shown yet), saved as "img1.bmp" in the work folder.
#include <cstdint>
#include <filesystem>

#include "platform/desktop/capture.h"
#include "platform/gdi/gdi.h"

namespace torvo::upload::ScreenCapMain {

inline std::filesystem::path CaptureFolder;
inline int16_t CaptureWidth = 0;
inline int16_t CaptureHeight = 0;
// Where the last capture came from (the active window, the topmost one, or the whole screen).
inline desktop::CaptureSource CaptureSourceUsed = desktop::CaptureSource::kWholeScreen;

// Creates the work folder when needed and writes the capture there as "img1.bmp", replacing an
// old one. Raises a TorvoError naming the folder or file when it cannot.
void CaptureToWorkFolder();

// The client area of the window in front (the whole screen when there is none).
gdi::Picture GrabForegroundClient(desktop::ScreenGrabber& grabber);

// width x height pixels from (left, top) of the area, at their own size.
gdi::Picture GrabWindowRegion(desktop::ScreenGrabber& grabber, const desktop::ScreenArea& area, int32_t left,
                              int32_t top, int32_t width, int32_t height);

// A picture that owns the bitmap.
gdi::Picture PictureFromBitmap(std::unique_ptr<gdi::Bitmap> bitmap);

}  // namespace torvo::upload::ScreenCapMain
