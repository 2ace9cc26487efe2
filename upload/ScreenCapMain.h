#pragma once
// Takes the picture the thumbnail is made from, from whichever source the program chose (the
// window in front; this program's window is not shown yet), and saves it as "img1.bmp" in the
// work folder.
#include <filesystem>
#include <future>
#include <memory>

#include "platform/capture_provider.h"
#include "platform/gdi/gdi.h"

namespace torvo::upload::ScreenCapMain {

// The picture taken, on its way to "img1.bmp" on a thread of its own: the thumbnail can be made
// from the pixels in memory meanwhile, which are the file's.
class CaptureInWorkFolder {
 public:
  CaptureInWorkFolder(std::filesystem::path file, std::unique_ptr<gdi::Bitmap> picture);
  // Waits for the file.
  ~CaptureInWorkFolder();
  CaptureInWorkFolder(CaptureInWorkFolder&&) noexcept = default;
  CaptureInWorkFolder& operator=(CaptureInWorkFolder&&) = delete;

  const std::filesystem::path& file() const { return file_; }
  // The 24-bit picture as the file holds it; null once Written has let it go, or when the source
  // gave another pixel size (the file is then written before the start returns, and read back).
  const gdi::Bitmap* picture() const { return picture_.get(); }
  // Waits until "img1.bmp" is whole and lets the picture go. Raises the TorvoError naming the
  // file when it could not be written.
  void Written();

 private:
  std::filesystem::path file_;
  std::unique_ptr<gdi::Bitmap> picture_;
  std::future<void> writing_;
};

// Creates the work folder when needed, takes the provider's picture and starts writing it there
// as "img1.bmp", replacing an old one. Raises the provider's TorvoError when it has no picture,
// overflow (6) when a side leaves 16 bits, and a TorvoError naming the folder when it cannot make
// it. Written() then waits for the file.
CaptureInWorkFolder StartCaptureToWorkFolder(CaptureProvider& provider);

}  // namespace torvo::upload::ScreenCapMain
