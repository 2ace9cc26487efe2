#include "upload/picture_file.h"

#include <FreeImage.h>

#include <cstring>
#include <memory>

#include "platform/error.h"
#include "platform/paths.h"
#include "platform/picture_files.h"

namespace torvo::upload {

namespace {

std::string& LastFreeImageMessage() {
  static std::string message;
  return message;
}

void KeepFreeImageMessage(FREE_IMAGE_FORMAT, const char* message) {
  LastFreeImageMessage() = message ? message : "";
}

struct Unloader {
  void operator()(FIBITMAP* dib) const { FreeImage_Unload(dib); }
};
using Dib = std::unique_ptr<FIBITMAP, Unloader>;

}  // namespace

void ResetFreeImageMessage() {
  FreeImage_SetOutputMessage(KeepFreeImageMessage);
  LastFreeImageMessage().clear();
}

std::string FileProblem(const char* what, const std::filesystem::path& file) {
  std::string text = std::string(what) + ": " + Utf8Path(file);
  if (!LastFreeImageMessage().empty()) text += " (" + LastFreeImageMessage() + ")";
  return text;
}

gdi::Picture LoadPicture(const std::filesystem::path& file) {
  ResetFreeImageMessage();
  Dib dib(LoadPictureFile(FIF_BMP, file, 0));
  if (dib && FreeImage_GetBPP(dib.get()) != 24) dib.reset(FreeImage_ConvertTo24Bits(dib.get()));
  std::unique_ptr<gdi::Bitmap> bitmap;
  if (dib) {
    bitmap = gdi::Bitmap::Create(static_cast<int32_t>(FreeImage_GetWidth(dib.get())),
                                 static_cast<int32_t>(FreeImage_GetHeight(dib.get())), 24);
  }
  if (!bitmap) throw TorvoError(kErrFileNotFound, ProgramName(), FileProblem("그림 파일을 읽을 수 없습니다", file));
  // Both keep rows bottom-up, 4-byte aligned, blue first.
  const size_t rowBytes = static_cast<size_t>(bitmap->width()) * 3;
  for (int32_t r = 0; r < bitmap->height(); ++r) std::memcpy(bitmap->ScanLine(r), FreeImage_GetScanLine(dib.get(), r), rowBytes);
  return gdi::Picture(std::move(bitmap));
}

void SavePicture(const gdi::Bitmap& bitmap, const std::filesystem::path& file) {
  ResetFreeImageMessage();
  bool saved = false;
  if (bitmap.bitsPerPixel() == 24) {
    // Same row layout as a 24-bit FreeImage bitmap: written from our own memory, no copy.
    Dib header(FreeImage_ConvertFromRawBitsEx(FALSE, const_cast<uint8_t*>(bitmap.bits()), FIT_BITMAP, bitmap.width(),
                                              bitmap.height(), bitmap.stride(), 24, FI_RGBA_RED_MASK,
                                              FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, FALSE));
    saved = header && SavePictureFile(FIF_BMP, header.get(), file, 0);
    if (!saved) throw TorvoError(kErrPathFileAccess, ProgramName(), FileProblem("그림 파일을 쓸 수 없습니다", file));
    return;
  }
  Dib dib(FreeImage_Allocate(bitmap.width(), bitmap.height(), 24));
  if (dib) {
    const int32_t step = bitmap.bytesPerPixel();
    for (int32_t r = 0; r < bitmap.height(); ++r) {
      const uint8_t* from = bitmap.ScanLine(r);
      uint8_t* to = FreeImage_GetScanLine(dib.get(), r);
      for (int32_t x = 0; x < bitmap.width(); ++x, from += step, to += 3) {
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];
      }
    }
    saved = SavePictureFile(FIF_BMP, dib.get(), file, 0);
  }
  if (!saved) throw TorvoError(kErrPathFileAccess, ProgramName(), FileProblem("그림 파일을 쓸 수 없습니다", file));
}

}  // namespace torvo::upload
