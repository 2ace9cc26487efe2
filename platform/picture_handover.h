#pragma once
// How the toolbar's host hands the browser's picture of the page to TorvoTool: outside the command
// line, which stays the four fields, in memory that only the started TorvoTool inherits and that
// has no name on any disk.
// - Linux: an inherited file descriptor, its number in kPictureDescriptorVariable, of a sealed
//   memory file: nobody can write or resize it once sealed, and its memory is gone when the last
//   holder closes it.
// - Windows: an inherited handle, its value in kPictureHandleVariable, of an unnamed file mapping
//   backed by the paging file, read-only for TorvoTool: the host closes its own handles once
//   TorvoTool has started, so no handle that could write it is left. The mapping begins with the
//   PNG's length (kPictureMappingHeaderBytes, little-endian), the PNG follows.
#include <cstddef>
#include <cstdint>
#include <string>

namespace torvo {

inline constexpr char kPictureDescriptorVariable[] = "TORVO_PICTURE_FD";
inline constexpr char kPictureHandleVariable[] = "TORVO_PICTURE_HANDLE";
inline constexpr size_t kPictureMappingHeaderBytes = 8;

// The host refuses bigger pictures, and TorvoTool does not read more than this.
inline constexpr size_t kMaxHandedOverPictureBytes = 64u * 1024 * 1024;
// Neither side of the picture may be longer (the thumbnail is 200 wide or 160 high anyway).
inline constexpr unsigned kMaxHandedOverPictureSide = 16384;

struct HandedOverPicture {
  bool handedOver = false;  // the variable was set
  std::string png;          // its bytes, when they could be read
  std::string problem;      // else why not, in Korean for the message; empty when read
};

// TorvoTool's end: reads and closes what the variable names, and takes the variable out of the
// environment so that nothing this program starts sees it. Only memory nobody can change while
// it is read (a sealed memory file; a mapping this program can only read), of at most
// kMaxHandedOverPictureBytes, is read. Call it before other threads start (it changes the
// environment).
HandedOverPicture TakeHandedOverPicture();

}  // namespace torvo
