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
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace torvo {

inline constexpr char kPictureDescriptorVariable[] = "TORVO_PICTURE_FD";
inline constexpr char kPictureHandleVariable[] = "TORVO_PICTURE_HANDLE";
inline constexpr size_t kPictureMappingHeaderBytes = 8;

// The host refuses bigger pictures, and TorvoTool does not read more than this.
inline constexpr size_t kMaxHandedOverPictureBytes = 64u * 1024 * 1024;
// Neither side of the picture may be longer (the thumbnail is 200 wide or 160 high anyway).
inline constexpr unsigned kMaxHandedOverPictureSide = 16384;

// The PNG's bytes: a copy, or memory nobody can change, read where it is (on Linux the sealed
// memory file, mapped). A picture of megabytes copied at start costs a page fault every 4 KB of
// fresh memory, on the way to the window.
class PictureBytes {
 public:
  PictureBytes() = default;
  PictureBytes(std::string copy) : copy_(std::move(copy)) {}  // NOLINT: a copy is the plain case
  // Bytes that stay as they are for as long as holder lives.
  PictureBytes(std::shared_ptr<const void> holder, std::string_view bytes) : holder_(std::move(holder)), held_(bytes) {}

  std::string_view view() const { return holder_ ? held_ : std::string_view(copy_); }
  operator std::string_view() const { return view(); }  // NOLINT: read as a text of bytes
  size_t size() const { return view().size(); }
  bool empty() const { return view().empty(); }
  // Lets the memory go.
  void clear() {
    std::string().swap(copy_);
    holder_.reset();
    held_ = {};
  }
  friend bool operator==(const PictureBytes& bytes, std::string_view other) { return bytes.view() == other; }

 private:
  std::string copy_;
  std::shared_ptr<const void> holder_;
  std::string_view held_;
};

struct HandedOverPicture {
  bool handedOver = false;  // the variable was set
  PictureBytes png;         // its bytes, when they could be read
  std::string problem;      // else why not, in Korean for the message; empty when read
};

// TorvoTool's end: reads and closes what the variable names, and takes the variable out of the
// environment so that nothing this program starts sees it. Only memory nobody can change while
// it is read (a sealed memory file; a mapping this program can only read), of at most
// kMaxHandedOverPictureBytes, is read. Call it before other threads start (it changes the
// environment).
HandedOverPicture TakeHandedOverPicture();

}  // namespace torvo
