#pragma once
// How the toolbar's host hands the browser's picture of the page to TorvoTool: outside the command
// line, which stays the four fields, as an inherited file descriptor whose number is in this
// variable. The descriptor is a sealed memory file: it has no name on any disk, nobody can write
// or resize it once sealed, and its memory is gone when the last holder closes it.
#include <cstddef>

namespace torvo {

inline constexpr char kPictureDescriptorVariable[] = "TORVO_PICTURE_FD";

// The host refuses bigger pictures, and TorvoTool does not read more than this from the descriptor.
inline constexpr size_t kMaxHandedOverPictureBytes = 64u * 1024 * 1024;
// Neither side of the picture may be longer (the thumbnail is 200 wide or 160 high anyway).
inline constexpr unsigned kMaxHandedOverPictureSide = 16384;

}  // namespace torvo
