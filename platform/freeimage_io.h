#pragma once
// FreeImage's file calls over std::filesystem paths: the names reach the system whole (wide on
// Windows, whatever its ANSI code page), for every caller that reads or writes picture files.
// FreeImage's own messages are the same as its file calls give.
#include <FreeImage.h>

#include <filesystem>

namespace torvo {

// The format the file's first bytes show, FIF_UNKNOWN when it cannot be read or is none.
FREE_IMAGE_FORMAT PictureFileType(const std::filesystem::path& file);

// FreeImage_Load of the file; nullptr when it cannot be opened or read.
FIBITMAP* LoadPictureFile(FREE_IMAGE_FORMAT format, const std::filesystem::path& file, int flags = 0);

// FreeImage_Save to the file, replacing it; false when it cannot be written.
bool SavePictureFile(FREE_IMAGE_FORMAT format, FIBITMAP* dib, const std::filesystem::path& file, int flags = 0);

}  // namespace torvo
