#include "upload/app/ScreenCapMain.h"

#include "platform/arithmetic.h"
#include "platform/error.h"
#include "platform/workfolder.h"
#include "upload/picture_file.h"
#include "upload/thumbnail_pipeline.h"

namespace torvo::upload::ScreenCapMain {

void CaptureToWorkFolder() {
  CaptureFolder = WorkFolder();
  EnsureWorkFolder(CaptureFolder);
  desktop::ScreenGrabber grabber;
  gdi::Picture picture = GrabForegroundClient(grabber);
  const std::filesystem::path file = WorkFile(CaptureFolder, kCaptureFile);
  if (!picture.Handle())
    throw TorvoError(kErrPathFileAccess, ProgramName(), "화면을 캡처할 메모리가 부족합니다: " + file.string());
  SavePicture(*picture.Handle(), file);
}

gdi::Picture GrabForegroundClient(desktop::ScreenGrabber& grabber) {
  const desktop::ScreenArea area = grabber.ForegroundClientArea();
  CaptureSourceUsed = area.source;
  CaptureWidth = ToInt16(area.width);
  CaptureHeight = ToInt16(area.height);
  return GrabWindowRegion(grabber, area, 0, 0, CaptureWidth, CaptureHeight);
}

gdi::Picture GrabWindowRegion(desktop::ScreenGrabber& grabber, const desktop::ScreenArea& area, int32_t left,
                              int32_t top, int32_t width, int32_t height) {
  return PictureFromBitmap(grabber.Grab(area, left, top, width, height));
}

gdi::Picture PictureFromBitmap(std::unique_ptr<gdi::Bitmap> bitmap) { return gdi::Picture(std::move(bitmap)); }

}  // namespace torvo::upload::ScreenCapMain
