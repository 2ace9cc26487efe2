#include "upload/browser_picture_capture.h"

#include "platform/error.h"
#include "platform/picture_handover.h"
#include "upload/picture_file.h"

namespace torvo::upload {

namespace {

std::unique_ptr<gdi::Bitmap> Decode(HandedOverPicture& picture) {
  const std::string kCannot = "브라우저가 넘겨 준 페이지 그림을 읽을 수 없습니다";
  if (!picture.problem.empty()) throw TorvoError(kErrFileNotFound, ProgramName(), kCannot + ": " + picture.problem + ".");
  std::unique_ptr<gdi::Bitmap> bitmap = DecodePng(picture.png, static_cast<int32_t>(kMaxHandedOverPictureSide));
  // The compressed bytes are not needed again; a large picture's memory goes back at once.
  picture.png.clear();
  if (!bitmap) throw TorvoError(kErrFileNotFound, ProgramName(), kCannot + ": PNG 그림이 아니거나 손상되었습니다.");
  return bitmap;
}

}  // namespace

BrowserPictureCaptureProvider::~BrowserPictureCaptureProvider() {
  if (decoding_.valid()) decoding_.wait();
}

void BrowserPictureCaptureProvider::StartDecoding() {
  if (decoding_.valid()) return;
  decoding_ = std::async(std::launch::async, [this] { return Decode(picture_); });
}

std::unique_ptr<gdi::Bitmap> BrowserPictureCaptureProvider::CaptureFront() {
  if (decoding_.valid()) return decoding_.get();
  return Decode(picture_);
}

}  // namespace torvo::upload
