#pragma once
// TorvoTool's pictures as files (the capture, the scaled capture, the drawn thumbnail), through
// the platform's picture reader and writer, with the messages TorvoTool shows.
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/gdi/gdi.h"
#include "platform/picture_file.h"

namespace torvo::upload {

// A 24-bit picture of the bitmap file; raises kErrFileNotFound when it cannot be read.
gdi::Picture LoadPicture(const std::filesystem::path& file);

// The PNG file in memory as a 24-bit bitmap (any alpha dropped: pages are opaque), or null when it
// is not a PNG FreeImage can read or a side is longer than maxSide. The header is read first, so
// a picture that promises more pixels than that costs no memory.
std::unique_ptr<gdi::Bitmap> DecodePng(std::string_view png, int32_t maxSide);

// Writes the bitmap (24 or 32 bits) as a 24-bit Windows bitmap file, in place of any old one;
// raises kErrPathFileAccess when it cannot be written.
void SavePicture(const gdi::Bitmap& bitmap, const std::filesystem::path& file);

// The message of a failed file operation: what went wrong, the file, and why.
std::string FileProblem(const char* what, const std::filesystem::path& file, const PictureFileError& why);

}  // namespace torvo::upload
