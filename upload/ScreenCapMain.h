#pragma once
// Takes the picture the thumbnail is made from, from whichever source the program chose (the
// window in front; this program's window is not shown yet), and saves it as "img1.bmp" in the
// work folder.
#include "platform/capture_provider.h"

namespace torvo::upload::ScreenCapMain {

// Creates the work folder when needed and writes the provider's picture there as "img1.bmp",
// replacing an old one. Raises the provider's TorvoError when it has no picture, overflow (6)
// when a side leaves 16 bits, and a TorvoError naming the folder or file when it cannot write.
void CaptureToWorkFolder(CaptureProvider& provider);

}  // namespace torvo::upload::ScreenCapMain
