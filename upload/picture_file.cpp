#include "upload/picture_file.h"

#include <FreeImage.h>

#include <cstring>
#include <memory>

#include "platform/error.h"

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
  std::string text = std::string(what) + ": " + file.string();
  if (!LastFreeImageMessage().empty()) text += " (" + LastFreeImageMessage() + ")";
  return text;
}

gdi::Picture LoadPicture(const std::filesystem::path& file) {
  ResetFreeImageMessage();
  Dib dib(FreeImage_Load(FIF_BMP, file.c_str(), 0));
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

std::unique_ptr<gdi::Bitmap> DecodePng(std::string_view png, int32_t maxSide) {
  ResetFreeImageMessage();
  if (png.empty() || png.size() > 0x7FFFFFFFu) return nullptr;
  struct MemoryCloser {
    void operator()(FIMEMORY* memory) const { FreeImage_CloseMemory(memory); }
  };
  // FreeImage only reads this memory.
  std::unique_ptr<FIMEMORY, MemoryCloser> memory(
      FreeImage_OpenMemory(reinterpret_cast<BYTE*>(const_cast<char*>(png.data())), static_cast<DWORD>(png.size())));
  if (!memory || FreeImage_GetFileTypeFromMemory(memory.get(), 0) != FIF_PNG) return nullptr;
  {
    Dib header(FreeImage_LoadFromMemory(FIF_PNG, memory.get(), FIF_LOAD_NOPIXELS));
    if (!header || FreeImage_GetWidth(header.get()) == 0 || FreeImage_GetHeight(header.get()) == 0 ||
        FreeImage_GetWidth(header.get()) > static_cast<unsigned>(maxSide) ||
        FreeImage_GetHeight(header.get()) > static_cast<unsigned>(maxSide))
      return nullptr;
  }
  FreeImage_SeekMemory(memory.get(), 0, SEEK_SET);
  Dib dib(FreeImage_LoadFromMemory(FIF_PNG, memory.get(), 0));
  if (dib && FreeImage_GetImageType(dib.get()) != FIT_BITMAP && FreeImage_GetImageType(dib.get()) != FIT_RGB16 &&
      FreeImage_GetImageType(dib.get()) != FIT_RGBA16)
    dib.reset(FreeImage_ConvertToStandardType(dib.get(), TRUE));  // 16-bit grey
  if (dib && (FreeImage_GetImageType(dib.get()) != FIT_BITMAP || FreeImage_GetBPP(dib.get()) != 24))
    dib.reset(FreeImage_ConvertTo24Bits(dib.get()));
  if (!dib) return nullptr;
  auto bitmap = gdi::Bitmap::Create(static_cast<int32_t>(FreeImage_GetWidth(dib.get())),
                                    static_cast<int32_t>(FreeImage_GetHeight(dib.get())), 24);
  if (!bitmap) return nullptr;
  // Both keep rows bottom-up, 4-byte aligned, blue first.
  const size_t rowBytes = static_cast<size_t>(bitmap->width()) * 3;
  for (int32_t r = 0; r < bitmap->height(); ++r) std::memcpy(bitmap->ScanLine(r), FreeImage_GetScanLine(dib.get(), r), rowBytes);
  return bitmap;
}

void SavePicture(const gdi::Bitmap& bitmap, const std::filesystem::path& file) {
  ResetFreeImageMessage();
  bool saved = false;
  if (bitmap.bitsPerPixel() == 24) {
    // Same row layout as a 24-bit FreeImage bitmap: written from our own memory, no copy.
    Dib header(FreeImage_ConvertFromRawBitsEx(FALSE, const_cast<uint8_t*>(bitmap.bits()), FIT_BITMAP, bitmap.width(),
                                              bitmap.height(), bitmap.stride(), 24, FI_RGBA_RED_MASK,
                                              FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, FALSE));
    saved = header && FreeImage_Save(FIF_BMP, header.get(), file.c_str(), 0);
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
    saved = FreeImage_Save(FIF_BMP, dib.get(), file.c_str(), 0);
  }
  if (!saved) throw TorvoError(kErrPathFileAccess, ProgramName(), FileProblem("그림 파일을 쓸 수 없습니다", file));
}

}  // namespace torvo::upload
