#pragma once
// TorvoTool's end of the hand-over (platform/picture_handover.h): the PNG of the page that the
// toolbar's host put in a sealed memory file, read once at start and closed.
#include <string>

namespace torvo::desktop {

struct HandedOverPicture {
  bool handedOver = false;  // the variable named a descriptor
  std::string png;          // its bytes, when they could be read
  std::string problem;      // else why not, in Korean for the message; empty when read
};

// Reads and closes the descriptor kPictureDescriptorVariable names, and takes the variable out of
// the environment so that nothing this program starts sees it. Only a sealed memory file of at
// most kMaxHandedOverPictureBytes is read: anything else could change while it is read. Call it
// before other threads start (it changes the environment).
HandedOverPicture TakeHandedOverPicture();

}  // namespace torvo::desktop
