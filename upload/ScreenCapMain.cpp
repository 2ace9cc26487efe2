#include "upload/ScreenCapMain.h"

#include <utility>

#include "platform/arithmetic.h"
#include "platform/workfolder.h"
#include "upload/picture_file.h"
#include "upload/thumbnail_pipeline.h"

namespace torvo::upload::ScreenCapMain {

CaptureInWorkFolder::CaptureInWorkFolder(std::filesystem::path file, std::unique_ptr<gdi::Bitmap> picture)
    : file_(std::move(file)), picture_(std::move(picture)) {
  if (picture_->bitsPerPixel() != 24) {
    SavePicture(*picture_, file_);
    picture_.reset();
    return;
  }
  // The picture stays where it is when this object moves; the thread holds on to it, not to us.
  writing_ = std::async(std::launch::async, [picture = picture_.get(), file = file_] { SavePicture(*picture, file); });
}

CaptureInWorkFolder::~CaptureInWorkFolder() {
  if (writing_.valid()) writing_.wait();
}

void CaptureInWorkFolder::Written() {
  if (writing_.valid()) writing_.get();
  picture_.reset();
}

CaptureInWorkFolder StartCaptureToWorkFolder(CaptureProvider& provider) {
  const std::filesystem::path folder = WorkFolder();
  EnsureWorkFolder(folder);
  std::unique_ptr<gdi::Bitmap> picture = provider.CaptureFront();
  // The capture's sides are 16-bit numbers further on.
  ToInt16(picture->width());
  ToInt16(picture->height());
  return CaptureInWorkFolder(WorkFile(folder, kCaptureFile), std::move(picture));
}

}  // namespace torvo::upload::ScreenCapMain
