#include "platform/freeimage_io.h"

#include <fstream>

#include "platform/paths.h"

namespace torvo {

namespace {

std::filebuf* Buffer(fi_handle handle) { return static_cast<std::filebuf*>(handle); }

unsigned DLL_CALLCONV Read(void* data, unsigned size, unsigned count, fi_handle handle) {
  if (size == 0) return 0;
  const std::streamsize got = Buffer(handle)->sgetn(static_cast<char*>(data), static_cast<std::streamsize>(size) * count);
  return static_cast<unsigned>(got / size);
}

unsigned DLL_CALLCONV Write(void* data, unsigned size, unsigned count, fi_handle handle) {
  if (size == 0) return 0;
  const std::streamsize put = Buffer(handle)->sputn(static_cast<const char*>(data), static_cast<std::streamsize>(size) * count);
  return static_cast<unsigned>(put / size);
}

int DLL_CALLCONV Seek(fi_handle handle, long offset, int origin) {
  const std::ios_base::seekdir from = origin == SEEK_SET ? std::ios_base::beg : origin == SEEK_CUR ? std::ios_base::cur : std::ios_base::end;
  return Buffer(handle)->pubseekoff(offset, from) == std::streampos(-1) ? -1 : 0;
}

long DLL_CALLCONV Tell(fi_handle handle) {
  return static_cast<long>(Buffer(handle)->pubseekoff(0, std::ios_base::cur));
}

FreeImageIO Io() { return FreeImageIO{Read, Write, Seek, Tell}; }

}  // namespace

FREE_IMAGE_FORMAT PictureFileType(const std::filesystem::path& file) {
  std::filebuf buffer;
  if (!buffer.open(file, std::ios_base::in | std::ios_base::binary)) return FIF_UNKNOWN;
  FreeImageIO io = Io();
  return FreeImage_GetFileTypeFromHandle(&io, &buffer, 0);
}

FIBITMAP* LoadPictureFile(FREE_IMAGE_FORMAT format, const std::filesystem::path& file, int flags) {
  std::filebuf buffer;
  if (!buffer.open(file, std::ios_base::in | std::ios_base::binary)) {
    FreeImage_OutputMessageProc(format, "FreeImage_Load: failed to open file %s", Utf8Path(file).c_str());
    return nullptr;
  }
  FreeImageIO io = Io();
  return FreeImage_LoadFromHandle(format, &io, &buffer, flags);
}

bool SavePictureFile(FREE_IMAGE_FORMAT format, FIBITMAP* dib, const std::filesystem::path& file, int flags) {
  std::filebuf buffer;
  if (!buffer.open(file, std::ios_base::in | std::ios_base::out | std::ios_base::trunc | std::ios_base::binary)) {
    FreeImage_OutputMessageProc(format, "FreeImage_Save: failed to open file %s", Utf8Path(file).c_str());
    return false;
  }
  FreeImageIO io = Io();
  const bool saved = FreeImage_SaveToHandle(format, dib, &io, &buffer, flags);
  // The last bytes reach the file when it closes; a full disk shows there.
  return buffer.close() != nullptr && saved;
}

}  // namespace torvo
