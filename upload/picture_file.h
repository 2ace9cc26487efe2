#pragma once
// TorvoTool's pictures as files (the capture, the scaled capture, the drawn thumbnail), through
// the platform's picture reader and writer, with the messages TorvoTool shows.
#include <filesystem>
#include <string>

#include "platform/gdi/gdi.h"
#include "platform/picture_file.h"

namespace torvo::upload {

// A 24-bit picture of the bitmap file; raises kErrFileNotFound when it cannot be read.
gdi::Picture LoadPicture(const std::filesystem::path& file);

// Writes the bitmap (24 or 32 bits) as a 24-bit Windows bitmap file in place of any old one;
// raises kErrPathFileAccess when it cannot be written.
void SavePicture(const gdi::Bitmap& bitmap, const std::filesystem::path& file);

// The message of a failed file operation: what went wrong, the file, and why.
std::string FileProblem(const char* what, const std::filesystem::path& file, const PictureFileError& why);

}  // namespace torvo::upload
