#include "platform/picture_file.h"

#include <FreeImage.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "platform/freeimage_io.h"
#include "platform/paths.h"
#include "platform/png_rows.h"

namespace torvo {

void FreeImageBitmapDeleter::operator()(FIBITMAP* dib) const { FreeImage_Unload(dib); }

namespace {

thread_local std::string lastFreeImageMessage;

void RememberFreeImageMessage(FREE_IMAGE_FORMAT, const char* message) {
  lastFreeImageMessage = message ? message : "";
}

void ListenToFreeImage() {
  FreeImage_SetOutputMessage(RememberFreeImageMessage);
  lastFreeImageMessage.clear();
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

FREE_IMAGE_FORMAT FreeImageFormat(PictureFormat format) { return format == PictureFormat::kPng ? FIF_PNG : FIF_BMP; }

}  // namespace

FreeImageBitmap ReadFreeImageBitmap(const std::filesystem::path& path) {
  ListenToFreeImage();
  std::error_code error;
  if (!std::filesystem::exists(path, error)) throw PictureFileError("no such file");
  if (std::filesystem::is_directory(path, error)) throw PictureFileError("it is a folder");
  // Only the two formats the system uses; FreeImage's other readers are not exposed to input.
  const FREE_IMAGE_FORMAT format = PictureFileType(path);
  if (format != FIF_BMP && format != FIF_PNG) {
    errno = 0;
    if (!std::ifstream(path, std::ios::binary).is_open()) {
      throw PictureFileError(errno ? std::strerror(errno) : "it cannot be opened");
    }
    throw PictureFileError("not a BMP or PNG picture");
  }
  if (format == FIF_BMP && BmpIsShort(path)) throw PictureFileError("the file is cut short");
  // The size first, from the header alone, so an absurd size is refused before any allocation.
  FreeImageBitmap header(LoadPictureFile(format, path, FIF_LOAD_NOPIXELS));
  if (!header) throw PictureFileError(Reason("corrupt picture"));
  const int64_t width = FreeImage_GetWidth(header.get()), height = FreeImage_GetHeight(header.get());
  header.reset();
  if (width <= 0 || height <= 0) throw PictureFileError("the picture has no pixels");
  // Divided rather than multiplied: a forged header's sides (up to 2^32 - 1 each) would overflow
  // even 64 bits.
  if (width > INT32_MAX || height > INT32_MAX || gdi::Bitmap::StrideFor(width, 24) > INT32_MAX / height) {
    throw PictureFileError("the picture is too large (" + std::to_string(width) + " x " + std::to_string(height) + ")");
  }
  FreeImageBitmap full(LoadPictureFile(format, path));
  if (!full || !FreeImage_HasPixels(full.get())) throw PictureFileError(Reason("corrupt picture"));
  return full;
}

namespace {

// The picture as a 24-bit bottom-up bitmap of ours, converting any other pixel format (16-bit
// grey and colour first to 8 bits a channel; any alpha is dropped: pages are opaque).
std::unique_ptr<gdi::Bitmap> ToBitmap(FreeImageBitmap dib) {
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib.get());
  if (type != FIT_BITMAP && type != FIT_RGB16 && type != FIT_RGBA16) {
    dib.reset(FreeImage_ConvertToStandardType(dib.get(), TRUE));
    if (!dib) throw PictureFileError("unsupported pixel format");
  }
  if (FreeImage_GetBPP(dib.get()) != 24 || FreeImage_GetImageType(dib.get()) != FIT_BITMAP) {
    dib.reset(FreeImage_ConvertTo24Bits(dib.get()));
    if (!dib) throw PictureFileError("unsupported pixel format");
  }
  const auto width = static_cast<int32_t>(FreeImage_GetWidth(dib.get()));
  const auto height = static_cast<int32_t>(FreeImage_GetHeight(dib.get()));
  // FreeImage keeps rows bottom-up in blue, green, red order, 4-byte aligned, as our bitmaps do.
  auto bitmap = gdi::Bitmap::Create(width, height, 24);
  if (!bitmap) throw PictureFileError("not enough memory");
  for (int32_t r = 0; r < height; ++r)
    std::memcpy(bitmap->ScanLine(r), FreeImage_GetScanLine(dib.get(), r), static_cast<size_t>(width) * 3);
  return bitmap;
}

}  // namespace

std::unique_ptr<gdi::Bitmap> ReadPicture(const std::filesystem::path& path) { return ToBitmap(ReadFreeImageBitmap(path)); }

std::unique_ptr<gdi::Bitmap> DecodePng(std::string_view png, int32_t maxSide) {
  PngRowsResult direct = DecodePngRows(png, maxSide);
  if (direct.outcome != PngRowsOutcome::kNotTaken) return std::move(direct.bitmap);
  return DecodePngThroughFreeImage(png, maxSide);
}

std::unique_ptr<gdi::Bitmap> DecodePngThroughFreeImage(std::string_view png, int32_t maxSide) {
  ListenToFreeImage();
  if (png.empty() || png.size() > 0x7FFFFFFFu) return nullptr;
  struct MemoryCloser {
    void operator()(FIMEMORY* memory) const { FreeImage_CloseMemory(memory); }
  };
  // FreeImage only reads this memory.
  std::unique_ptr<FIMEMORY, MemoryCloser> memory(
      FreeImage_OpenMemory(reinterpret_cast<BYTE*>(const_cast<char*>(png.data())), static_cast<DWORD>(png.size())));
  if (!memory || FreeImage_GetFileTypeFromMemory(memory.get(), 0) != FIF_PNG) return nullptr;
  {
    // The sides first, from the header alone, so a picture that promises more costs no memory.
    FreeImageBitmap header(FreeImage_LoadFromMemory(FIF_PNG, memory.get(), FIF_LOAD_NOPIXELS));
    if (!header || FreeImage_GetWidth(header.get()) == 0 || FreeImage_GetHeight(header.get()) == 0 ||
        FreeImage_GetWidth(header.get()) > static_cast<unsigned>(maxSide) ||
        FreeImage_GetHeight(header.get()) > static_cast<unsigned>(maxSide))
      return nullptr;
  }
  FreeImage_SeekMemory(memory.get(), 0, SEEK_SET);
  FreeImageBitmap dib(FreeImage_LoadFromMemory(FIF_PNG, memory.get(), 0));
  if (!dib || !FreeImage_HasPixels(dib.get())) return nullptr;
  try {
    return ToBitmap(std::move(dib));
  } catch (const PictureFileError&) {
    return nullptr;
  }
}

void WriteFreeImageBitmap(FIBITMAP* dib, const std::filesystem::path& path, PictureFormat format,
                          Replacing replacing) {
  ListenToFreeImage();
  if (replacing == Replacing::kInPlace) {
    if (!SavePictureFile(FreeImageFormat(format), dib, path))
      throw PictureFileError(Reason("the file could not be written"));
    return;
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
    if (!existed || attempt >= 100) throw PictureFileError(*problem);
  }
  std::error_code ignored;
  if (!SavePictureFile(FreeImageFormat(format), dib, temporary)) {
    std::filesystem::remove(temporary, ignored);
    throw PictureFileError(Reason("the file could not be written"));
  }
  if (std::optional<std::string> problem = RenameReplacing(temporary, path)) {
    std::filesystem::remove(temporary, ignored);
    throw PictureFileError(*problem);
  }
}

FreeImageBitmap WrapInFreeImage(const gdi::Bitmap& bitmap) {
  if (bitmap.bitsPerPixel() != 24) return nullptr;
  return FreeImageBitmap(FreeImage_ConvertFromRawBitsEx(FALSE, const_cast<uint8_t*>(bitmap.bits()), FIT_BITMAP,
                                                        bitmap.width(), bitmap.height(), bitmap.stride(), 24,
                                                        FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, FALSE));
}

void WritePicture(const gdi::Bitmap& bitmap, const std::filesystem::path& path, PictureFormat format,
                  Replacing replacing) {
  FreeImageBitmap dib;
  if (bitmap.bitsPerPixel() == 24) {
    // Written from our own memory, no copy.
    dib = WrapInFreeImage(bitmap);
  } else {
    dib.reset(FreeImage_Allocate(bitmap.width(), bitmap.height(), 24, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK,
                                 FI_RGBA_BLUE_MASK));
    if (dib) {
      const int32_t step = bitmap.bytesPerPixel();
      for (int32_t r = 0; r < bitmap.height(); ++r) {
        const uint8_t* from = bitmap.ScanLine(r);
        uint8_t* to = FreeImage_GetScanLine(dib.get(), r);
        for (int32_t x = 0; x < bitmap.width(); ++x, from += step, to += 3) std::memcpy(to, from, 3);
      }
    }
  }
  if (!dib) throw PictureFileError("not enough memory");
  WriteFreeImageBitmap(dib.get(), path, format, replacing);
}

}  // namespace torvo
