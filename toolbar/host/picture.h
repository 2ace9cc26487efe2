#pragma once
// The picture of the visible page that the extension sends along: a "data:image/png;base64,..."
// URL as the browser gives it. The host takes it only as a PNG whose header it can read, within
// our bounds, so TorvoTool is never started with something it would choke on.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "platform/picture_handover.h"
#include "toolbar/host/toolbar_request.h"

namespace torvo::toolbar {

inline constexpr std::string_view kPngDataUrlPrefix = "data:image/png;base64,";

// The longest base64 text that can hold kMaxHandedOverPictureBytes.
inline constexpr size_t kMaxPictureBase64Bytes = (kMaxHandedOverPictureBytes + 2) / 3 * 4;

struct PngPicture {
  std::string png;  // the PNG file's bytes
  uint32_t width = 0;
  uint32_t height = 0;
};

// Strict base64 (the standard alphabet, padding only at the end, no spaces); nothing when the
// text is not that.
std::optional<std::string> DecodeBase64(std::string_view text);

// The PNG in the data URL, or why not: picture_not_png_url, picture_not_base64,
// picture_not_png, picture_bad_header, picture_too_large.
// With a buffer that holds the data URL, the bytes are decoded over the text in the buffer's own
// memory, and the buffer becomes the PNG (it is left empty); a refused picture leaves it
// overwritten in part. A picture of megabytes then costs no new memory: in a fresh process every
// 4 KB of it would be a page fault.
std::variant<PngPicture, Refusal> DecodePictureUrl(std::string_view dataUrl, std::string* buffer = nullptr);

}  // namespace torvo::toolbar
