#include "upload/ScreenCapMain.h"

#include "platform/arithmetic.h"
#include "platform/workfolder.h"
#include "upload/picture_file.h"
#include "upload/thumbnail_pipeline.h"

namespace torvo::upload::ScreenCapMain {

void CaptureToWorkFolder(CaptureProvider& provider) {
  const std::filesystem::path folder = WorkFolder();
  EnsureWorkFolder(folder);
  const std::unique_ptr<gdi::Bitmap> picture = provider.CaptureFront();
  // The capture's sides are 16-bit numbers further on.
  ToInt16(picture->width());
  ToInt16(picture->height());
  SavePicture(*picture, WorkFile(folder, kCaptureFile));
}

}  // namespace torvo::upload::ScreenCapMain
