#pragma once
// From the capture "img1.bmp" to the uploaded thumbnail "img.png" in the work folder: scaled by
// FreeImage (box filter) to the thumbnail size, sharpened, drawn on the picture box, saved and
// converted to PNG. The BMP work files are gone afterwards.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "imaging/cDIBSection.h"
#include "imaging/cImageProcessDIB.h"
#include "platform/workfolder.h"  // DirExists
#include "upload/canvas.h"

namespace torvo::upload {

namespace ScreenCapMain {
class CaptureInWorkFolder;
}

inline constexpr char kCaptureFile[] = "img1.bmp";
inline constexpr char kScaledFile[] = "img2.bmp";
inline constexpr char kDrawnFile[] = "img3.bmp";
inline constexpr char kThumbnailFile[] = "img.png";

// The entry of the work folder with this name, matched without regard to case, or the plain
// name when there is none.
std::filesystem::path WorkFile(const std::filesystem::path& folder, const char* name);

// Creates the work folder (one level) unless it exists; raises kErrPathFileAccess naming it.
void EnsureWorkFolder(const std::filesystem::path& folder);

// The upload window's thumbnail state: the capture's size, the two surfaces and the processor.
struct ThumbnailState {
  int16_t OutputWidth = 0;
  int16_t OutputHeight = 0;
  cDIBSection cDibImage;
  cDIBSection cDibBuffer;
  std::unique_ptr<cImageProcessDIB> cProcessor;
};

// Runs the pipeline on OutputDir's "img1.bmp". picImage is the canvas the thumbnail is drawn on
// and saved from; it is left cleared, sized to the thumbnail. Afterwards state.cDibImage holds
// the sharpened thumbnail. A file that cannot be read, written or deleted raises a TorvoError
// whose description names it (kErrFileNotFound, kErrPathFileAccess); the BMP work files are then
// removed as far as possible.
void MakeThumbnail(const std::filesystem::path& OutputDir, Canvas& picImage, ThumbnailState& state);
// The same from a capture still on its way to "img1.bmp": its pixels in memory are scaled while
// the file is written, and the file is waited for before it is removed. The same files result,
// and a capture that could not be written raises its error here.
void MakeThumbnail(const std::filesystem::path& OutputDir, Canvas& picImage, ThumbnailState& state,
                   ScreenCapMain::CaptureInWorkFolder& capture);

// The bytes of OutputDir's "img.png" for the upload. A missing, unreadable or empty file raises
// a TorvoError whose description tells the user so and names the file.
std::string ReadThumbnail(const std::filesystem::path& OutputDir);

// Gives OutputDir's "img.png" the name the service gave the image, replacing a file of that
// name (matched without regard to case). Raises kErrPathFileAccess naming the files.
void KeepThumbnail(const std::filesystem::path& OutputDir, const std::u16string& name);

}  // namespace torvo::upload
