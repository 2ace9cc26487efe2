#include "upload/picture_file.h"

#include "platform/error.h"
#include "platform/paths.h"

namespace torvo::upload {

std::string FileProblem(const char* what, const std::filesystem::path& file, const PictureFileError& why) {
  return std::string(what) + ": " + Utf8Path(file) + " (" + why.what() + ")";
}

gdi::Picture LoadPicture(const std::filesystem::path& file) {
  try {
    return gdi::Picture(ReadPicture(file));
  } catch (const PictureFileError& e) {
    throw TorvoError(kErrFileNotFound, ProgramName(), FileProblem("그림 파일을 읽을 수 없습니다", file, e));
  }
}

void SavePicture(const gdi::Bitmap& bitmap, const std::filesystem::path& file) {
  try {
    WritePicture(bitmap, file, PictureFormat::kBmp, Replacing::kInPlace);
  } catch (const PictureFileError& e) {
    throw TorvoError(kErrPathFileAccess, ProgramName(), FileProblem("그림 파일을 쓸 수 없습니다", file, e));
  }
}

}  // namespace torvo::upload
