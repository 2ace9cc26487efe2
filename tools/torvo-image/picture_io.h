#pragma once
// Reading and writing pictures for torvo-image through FreeImage: BMP and PNG only.
#include <filesystem>
#include <memory>

#include "imaging/cDIBSection.h"

namespace torvo::image_tool {

// A BMP or PNG file as a 24-bit surface: the picture's top row lands in the highest scan line.
// Raises PictureError with a clear message for a missing, unreadable, corrupt or oversized file.
std::unique_ptr<cDIBSection> LoadPicture(const std::filesystem::path& path);

// Whether the path names a format the tool writes (".bmp" or ".png", any case).
bool IsWritablePictureName(const std::filesystem::path& path);

// Writes the surface as a 24-bit BMP or PNG by the extension, to a temporary name beside the
// target that is then renamed, so a failure leaves no partial file. Raises PictureError.
void SavePicture(const cDIBSection& surface, const std::filesystem::path& path);

}  // namespace torvo::image_tool
