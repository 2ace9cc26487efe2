#include "tools/torvo-image/picture_io.h"

#include <FreeImage.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "platform/gdi/gdi.h"
#include "platform/paths.h"
#include "platform/picture_files.h"
#include "tools/torvo-image/operations.h"

namespace torvo::image_tool {

namespace {

std::string lastFreeImageMessage;

void RememberFreeImageMessage(FREE_IMAGE_FORMAT, const char* message) {
  lastFreeImageMessage = message ? message : "";
}

struct Unload {
  void operator()(FIBITMAP* dib) const { FreeImage_Unload(dib); }
};
using Dib = std::unique_ptr<FIBITMAP, Unload>;

std::string Quoted(const std::filesystem::path& path) {
  std::string quoted(1, '"');
  quoted.append(Utf8Path(path)).push_back('"');
  return quoted;
}

// Why FreeImage gave up, or a general word when it said nothing.
std::string Reason(const char* fallback) {
  std::string reason = lastFreeImageMessage.empty() ? fallback : lastFreeImageMessage;
  lastFreeImageMessage.clear();
  return reason;
}

// FreeImage reads an uncompressed BMP that stops short as if the missing pixels were there;
// a file shorter than its header promises is corrupt, and is refused here.
bool BmpIsShort(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file.is_open()) return false;
  uint8_t header[54] = {};
  file.read(reinterpret_cast<char*>(header), sizeof header);
  const size_t got = static_cast<size_t>(file.gcount());
  file.clear();
  file.seekg(0, std::ios::end);
  const int64_t fileSize = static_cast<int64_t>(file.tellg());
  auto u16 = [&](int at) { return static_cast<uint32_t>(header[at] | header[at + 1] << 8); };
  auto u32 = [&](int at) { return u16(at) | u16(at + 2) << 16; };
  if (got < 26) return true;
  const uint32_t offset = u32(10), infoSize = u32(14);
  int64_t width, height, bitCount, compression = 0;
  if (infoSize == 12) {
    width = u16(18);
    height = u16(20);
    bitCount = u16(24);
  } else {
    if (got < 34) return true;
    width = static_cast<int32_t>(u32(18));
    height = static_cast<int32_t>(u32(22));
    bitCount = u16(28);
    compression = u32(30);
  }
  if (compression != 0 && compression != 3) return false;  // run-length data has no fixed size
  const int64_t stride = ((std::abs(width) * bitCount + 31) / 32) * 4;
  if (static_cast<int64_t>(offset) > fileSize) return true;
  // stride x rows > room, asked without the product, which a forged header can push past 64 bits.
  const int64_t room = fileSize - static_cast<int64_t>(offset);
  return stride != 0 && std::abs(height) > room / stride;
}

}  // namespace

std::unique_ptr<cDIBSection> LoadPicture(const std::filesystem::path& path) {
  FreeImage_SetOutputMessage(RememberFreeImageMessage);
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    throw PictureError("cannot read " + Quoted(path) + ": no such file");
  }
  if (std::filesystem::is_directory(path, error)) {
    throw PictureError("cannot read " + Quoted(path) + ": it is a folder");
  }
  // Only the two formats the system uses; FreeImage's other readers are not exposed to input.
  const FREE_IMAGE_FORMAT format = PictureFileType(path);
  if (format != FIF_BMP && format != FIF_PNG) {
    errno = 0;
    if (!std::ifstream(path, std::ios::binary).is_open()) {
      throw PictureError("cannot read " + Quoted(path) + ": " + (errno ? std::strerror(errno) : "it cannot be opened"));
    }
    throw PictureError("cannot read " + Quoted(path) + ": not a BMP or PNG picture");
  }
  if (format == FIF_BMP && BmpIsShort(path)) {
    throw PictureError("cannot read " + Quoted(path) + ": the file is cut short");
  }
  // The size first, from the header alone, so an absurd size is refused before any allocation.
  Dib header(LoadPictureFile(format, path, FIF_LOAD_NOPIXELS));
  if (!header) throw PictureError("cannot read " + Quoted(path) + ": " + Reason("corrupt picture"));
  const int64_t width = FreeImage_GetWidth(header.get()), height = FreeImage_GetHeight(header.get());
  header.reset();
  if (width <= 0 || height <= 0) {
    throw PictureError("cannot read " + Quoted(path) + ": the picture has no pixels");
  }
  // Divided rather than multiplied: a forged header's sides (up to 2^32 - 1 each) would overflow
  // even 64 bits.
  if (width > INT32_MAX || height > INT32_MAX || gdi::Bitmap::StrideFor(width, 24) > INT32_MAX / height) {
    throw PictureError("cannot read " + Quoted(path) + ": the picture is too large (" +
                       std::to_string(width) + " x " + std::to_string(height) + ")");
  }
  Dib full(LoadPictureFile(format, path, 0));
  if (!full || !FreeImage_HasPixels(full.get())) {
    throw PictureError("cannot read " + Quoted(path) + ": " + Reason("corrupt picture"));
  }
  Dib rgb(FreeImage_ConvertTo24Bits(full.get()));
  full.reset();
  if (!rgb) throw PictureError("cannot read " + Quoted(path) + ": unsupported pixel format");
  const auto w = static_cast<int32_t>(FreeImage_GetWidth(rgb.get()));
  const auto h = static_cast<int32_t>(FreeImage_GetHeight(rgb.get()));

  // FreeImage keeps rows bottom-up in blue, green, red order, as our bitmaps do.
  auto bitmap = gdi::Bitmap::Create(w, h, 24);
  if (!bitmap) throw PictureError("cannot read " + Quoted(path) + ": not enough memory");
  for (int32_t y = 0; y < h; ++y) {
    std::memcpy(bitmap->ScanLine(y), FreeImage_GetScanLine(rgb.get(), y), static_cast<size_t>(w) * 3);
  }
  rgb.reset();
  gdi::Picture picture(std::move(bitmap));
  auto surface = std::make_unique<cDIBSection>();
  surface->CreateFromPicture(picture);
  if (!surface->DIBSectionBitsPtr()) {
    throw PictureError("cannot read " + Quoted(path) + ": not enough memory");
  }
  return surface;
}

namespace {
FREE_IMAGE_FORMAT WritableFormat(const std::filesystem::path& path) {
  std::string extension = Utf8Path(path.extension());
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".bmp") return FIF_BMP;
  if (extension == ".png") return FIF_PNG;
  return FIF_UNKNOWN;
}
}  // namespace

bool IsWritablePictureName(const std::filesystem::path& path) {
  return WritableFormat(path) != FIF_UNKNOWN && !path.filename().empty();
}

void SavePicture(const cDIBSection& surface, const std::filesystem::path& path) {
  FreeImage_SetOutputMessage(RememberFreeImageMessage);
  const FREE_IMAGE_FORMAT format = WritableFormat(path);
  if (format == FIF_UNKNOWN) throw PictureError("cannot write " + Quoted(path) + ": not .bmp or .png");
  const int32_t width = surface.Width(), height = surface.Height();
  if (!surface.DIBSectionBitsPtr()) throw PictureError("cannot write " + Quoted(path) + ": no picture");
  Dib dib(FreeImage_Allocate(width, height, 24, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK));
  if (!dib) throw PictureError("cannot write " + Quoted(path) + ": not enough memory");
  const int32_t stride = surface.BytesPerScanLine();
  for (int32_t y = 0; y < height; ++y) {
    std::memcpy(FreeImage_GetScanLine(dib.get(), y),
                surface.DIBSectionBitsPtr() + static_cast<int64_t>(y) * stride,
                static_cast<size_t>(width) * 3);
  }

  // A temporary name beside the target, renamed over it once the whole file is written.
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  // Created new (never someone else's file), with the permissions any new file gets.
  std::filesystem::path temporary;
  for (unsigned attempt = 0;; ++attempt) {
    std::string name = ".";
    name.append(Utf8Path(path.filename())).append(".").append(std::to_string(CurrentProcessId()));
    name.append("-").append(std::to_string(attempt));
    temporary = folder / PathFromUtf8(name);
    bool existed = false;
    std::optional<std::string> problem = CreateNewFile(temporary, {}, &existed);
    if (!problem) break;
    if (!existed || attempt >= 100) throw PictureError("cannot write " + Quoted(path) + ": " + *problem);
  }
  std::error_code ignored;
  if (!SavePictureFile(format, dib.get(), temporary, 0)) {
    std::filesystem::remove(temporary, ignored);
    throw PictureError("cannot write " + Quoted(path) + ": " + Reason("the file could not be written"));
  }
  if (std::optional<std::string> problem = RenameReplacing(temporary, path)) {
    std::filesystem::remove(temporary, ignored);
    throw PictureError("cannot write " + Quoted(path) + ": " + *problem);
  }
}

}  // namespace torvo::image_tool
