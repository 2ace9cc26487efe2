#include "upload/picture_file.h"

#include "platform/error.h"

namespace torvo::upload {

std::string FileProblem(const char* what, const std::filesystem::path& file, const PictureFileError& why) {
  return std::string(what) + ": " + file.string() + " (" + why.what() + ")";
}

gdi::Picture LoadPicture(const std::filesystem::path& file) {
  try {
    return gdi::Picture(ReadPicture(file));
  } catch (const PictureFileError& e) {
    throw TorvoError(kErrFileNotFound, ProgramName(), FileProblem("그림 파일을 읽을 수 없습니다", file, e));
  }
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
  try {
    WritePicture(bitmap, file, PictureFormat::kBmp, Replacing::kInPlace);
  } catch (const PictureFileError& e) {
    throw TorvoError(kErrPathFileAccess, ProgramName(), FileProblem("그림 파일을 쓸 수 없습니다", file, e));
  }
}

}  // namespace torvo::upload
