#pragma once
// TorvoTool's end of the hand-over on Linux (platform/picture_handover.h): the PNG of the page
// that the toolbar's host put in a sealed memory file, read once at start and closed.
#include "platform/picture_handover.h"

namespace torvo::desktop {

using torvo::HandedOverPicture;
using torvo::TakeHandedOverPicture;

}  // namespace torvo::desktop
