#pragma once
// Picture files through FreeImage, for every program: BMP and PNG only, since no other format
// is ever read or written. Everything read is checked before FreeImage reads pixels (a file cut
// short, a header whose size is absurd or would overflow), so a forged file is refused rather
// than read past its end or allowed to ask for all memory.
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "platform/gdi/gdi.h"

struct FIBITMAP;

namespace torvo {

enum class PictureFormat { kBmp, kPng };

// How a written file replaces an old one. Whole: written under a temporary name beside it and
// renamed over it once complete, so a failure leaves neither a partial file nor the temporary
// one. In place: written straight under its name, for work files only their program reads;
// renaming over a file makes the file system write the new one out at once, which costs more
// than the work file's whole life.
enum class Replacing { kWhole, kInPlace };

// Why a picture file could not be read or written, in a few plain words ("no such file", "the
// file is cut short"); the caller puts them into its own message with the file's name.
class PictureFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct FreeImageBitmapDeleter {
  void operator()(FIBITMAP* dib) const;
};
// A picture as FreeImage holds it, for FreeImage's own operations (the thumbnail's rescale).
using FreeImageBitmap = std::unique_ptr<FIBITMAP, FreeImageBitmapDeleter>;

// A BMP or PNG file as FreeImage reads it, in the file's own pixel format. Raises
// PictureFileError for a missing or unreadable file, a folder, another format, a BMP shorter
// than its header says, a picture without pixels or one whose 24-bit rows would not fit 31 bits.
FreeImageBitmap ReadFreeImageBitmap(const std::filesystem::path& path);

// The same picture as a 24-bit bottom-up bitmap.
std::unique_ptr<gdi::Bitmap> ReadPicture(const std::filesystem::path& path);

// A PNG file held in memory as a 24-bit bitmap, or null when it is not a PNG FreeImage can read
// or a side is longer than maxSide. The browser's kinds of PNG go straight through libpng (see
// png_rows.h), with FreeImage's pixels and refusals; every other kind through FreeImage.
std::unique_ptr<gdi::Bitmap> DecodePng(std::string_view png, int32_t maxSide);
// The same through FreeImage alone, for every kind of PNG.
std::unique_ptr<gdi::Bitmap> DecodePngThroughFreeImage(std::string_view png, int32_t maxSide);

// A 24-bit bitmap of ours as FreeImage's, on the same memory (the rows are laid out alike): valid
// while the bitmap lives. Null for another pixel size or when FreeImage has no memory for it.
FreeImageBitmap WrapInFreeImage(const gdi::Bitmap& bitmap);

// Writes the picture as a file of the format, replacing any old one. Raises PictureFileError.
void WriteFreeImageBitmap(FIBITMAP* dib, const std::filesystem::path& path, PictureFormat format,
                          Replacing replacing = Replacing::kWhole);
// The same for a 24- or 32-bit bitmap of ours, written as 24 bits (the fourth byte is dropped).
void WritePicture(const gdi::Bitmap& bitmap, const std::filesystem::path& path, PictureFormat format,
                  Replacing replacing = Replacing::kWhole);

}  // namespace torvo
