#include "tools/torvo-image/picture_io.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

#include "platform/gdi/gdi.h"
#include "platform/paths.h"
#include "platform/picture_file.h"
#include "tools/torvo-image/operations.h"

namespace torvo::image_tool {

namespace {

std::string Quoted(const std::filesystem::path& path) {
  std::string quoted(1, '"');
  quoted.append(Utf8Path(path)).push_back('"');
  return quoted;
}

// The format by the name's extension, if it is one the tool writes.
std::optional<PictureFormat> WritableFormat(const std::filesystem::path& path) {
  std::string extension = Utf8Path(path.extension());
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".bmp") return PictureFormat::kBmp;
  if (extension == ".png") return PictureFormat::kPng;
  return std::nullopt;
}

}  // namespace

std::unique_ptr<cDIBSection> LoadPicture(const std::filesystem::path& path) {
  std::unique_ptr<gdi::Bitmap> bitmap;
  try {
    bitmap = ReadPicture(path);
  } catch (const PictureFileError& e) {
    throw PictureError("cannot read " + Quoted(path) + ": " + e.what());
  }
  gdi::Picture picture(std::move(bitmap));
  auto surface = std::make_unique<cDIBSection>();
  surface->CreateFromPicture(picture);
  if (!surface->DIBSectionBitsPtr()) throw PictureError("cannot read " + Quoted(path) + ": not enough memory");
  return surface;
}

bool IsWritablePictureName(const std::filesystem::path& path) {
  return WritableFormat(path).has_value() && !path.filename().empty();
}

void SavePicture(const cDIBSection& surface, const std::filesystem::path& path) {
  const std::optional<PictureFormat> format = WritableFormat(path);
  if (!format) throw PictureError("cannot write " + Quoted(path) + ": not .bmp or .png");
  if (!surface.DIBSectionBitsPtr() || !surface.hDib()) throw PictureError("cannot write " + Quoted(path) + ": no picture");
  try {
    WritePicture(*surface.hDib(), path, *format);
  } catch (const PictureFileError& e) {
    throw PictureError("cannot write " + Quoted(path) + ": " + e.what());
  }
}

}  // namespace torvo::image_tool
