#include "toolbar/host/picture.h"

#include <array>
#include <optional>

namespace torvo::toolbar {

namespace {

constexpr std::string_view kPngSignature("\x89PNG\r\n\x1A\n", 8);

constexpr std::array<int8_t, 256> kBase64Values = [] {
  std::array<int8_t, 256> values{};
  values.fill(-1);
  constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t i = 0; i < alphabet.size(); ++i) values[static_cast<unsigned char>(alphabet[i])] = static_cast<int8_t>(i);
  return values;
}();

// The CRC of PNG chunks (ISO 3309, the same as zlib's).
uint32_t Crc32(std::string_view bytes) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

uint32_t BigEndian32(std::string_view bytes, size_t at) {
  return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
         uint32_t(uint8_t(bytes[at + 2])) << 8 | uint32_t(uint8_t(bytes[at + 3]));
}

// The bit depths PNG allows for each colour type.
bool ValidDepth(uint8_t colourType, uint8_t depth) {
  switch (colourType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2: case 4: case 6: return depth == 8 || depth == 16;
    default: return false;
  }
}

// Decodes into out and returns the count of bytes, or nothing when the text is not strict base64.
// out may be the text's own first byte: each group of four characters is read before its three
// bytes are written, and those never reach past what has been read.
std::optional<size_t> DecodeBase64Into(std::string_view text, char* out) {
  if (text.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
  char* const begin = out;
  const size_t end = text.size() - padding;
  size_t i = 0;
  for (; i + 4 <= end; i += 4) {
    int32_t a = kBase64Values[uint8_t(text[i])], b = kBase64Values[uint8_t(text[i + 1])];
    int32_t c = kBase64Values[uint8_t(text[i + 2])], d = kBase64Values[uint8_t(text[i + 3])];
    if ((a | b | c | d) < 0) return std::nullopt;
    uint32_t v = uint32_t(a) << 18 | uint32_t(b) << 12 | uint32_t(c) << 6 | uint32_t(d);
    *out++ = char(v >> 16);
    *out++ = char(v >> 8);
    *out++ = char(v);
  }
  if (padding) {
    int32_t a = kBase64Values[uint8_t(text[i])], b = kBase64Values[uint8_t(text[i + 1])];
    int32_t c = padding == 1 ? kBase64Values[uint8_t(text[i + 2])] : 0;
    if ((a | b | c) < 0) return std::nullopt;
    uint32_t v = uint32_t(a) << 18 | uint32_t(b) << 12 | uint32_t(c) << 6;
    *out++ = char(v >> 16);
    if (padding == 1) *out++ = char(v >> 8);
  }
  return size_t(out - begin);
}

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
  std::string bytes;
  bytes.resize(text.size() / 4 * 3);
  std::optional<size_t> size = DecodeBase64Into(text, bytes.data());
  if (!size) return std::nullopt;
  bytes.resize(*size);
  return bytes;
}

std::variant<PngPicture, Refusal> DecodePictureUrl(std::string_view dataUrl, std::string* buffer) {
  if (!dataUrl.starts_with(kPngDataUrlPrefix)) {
    return Refusal{"picture_not_png_url", "The picture is not a PNG data address (\"data:image/png;base64,...\")."};
  }
  std::string_view encoded = dataUrl.substr(kPngDataUrlPrefix.size());
  if (encoded.size() > kMaxPictureBase64Bytes) {
    return Refusal{"picture_too_large", "The picture is larger than " + std::to_string(kMaxHandedOverPictureBytes >> 20) +
                                            " MiB; it is not taken."};
  }
  std::optional<std::string> png;
  if (buffer && encoded.data() >= buffer->data() && encoded.data() + encoded.size() <= buffer->data() + buffer->size()) {
    if (std::optional<size_t> size = DecodeBase64Into(encoded, buffer->data())) {
      buffer->resize(*size);
      png = std::move(*buffer);
      buffer->clear();
    }
  } else {
    png = DecodeBase64(encoded);
  }
  if (!png) return Refusal{"picture_not_base64", "The picture's data is not valid base64."};
  if (png->size() > kMaxHandedOverPictureBytes) {
    return Refusal{"picture_too_large", "The picture is larger than " + std::to_string(kMaxHandedOverPictureBytes >> 20) +
                                            " MiB; it is not taken."};
  }
  // Signature, then the header chunk: length 13, "IHDR", the fields, its CRC.
  if (png->size() < kPngSignature.size() + 25 || std::string_view(*png).substr(0, 8) != kPngSignature) {
    return Refusal{"picture_not_png", "The picture is not a PNG file."};
  }
  std::string_view header = std::string_view(*png).substr(8, 25);
  if (BigEndian32(header, 0) != 13 || header.substr(4, 4) != "IHDR" ||
      BigEndian32(header, 21) != Crc32(header.substr(4, 17))) {
    return Refusal{"picture_bad_header", "The picture's PNG header is damaged."};
  }
  PngPicture picture;
  picture.width = BigEndian32(header, 8);
  picture.height = BigEndian32(header, 12);
  const uint8_t depth = uint8_t(header[16]), colourType = uint8_t(header[17]);
  const uint8_t compression = uint8_t(header[18]), filter = uint8_t(header[19]), interlace = uint8_t(header[20]);
  if (picture.width == 0 || picture.height == 0 || picture.width > 0x7FFFFFFFu || picture.height > 0x7FFFFFFFu ||
      !ValidDepth(colourType, depth) || compression != 0 || filter != 0 || interlace > 1) {
    return Refusal{"picture_bad_header", "The picture's PNG header is not valid."};
  }
  if (picture.width > kMaxHandedOverPictureSide || picture.height > kMaxHandedOverPictureSide) {
    return Refusal{"picture_too_large", "The picture is " + std::to_string(picture.width) + " x " +
                                            std::to_string(picture.height) + " pixels; at most " +
                                            std::to_string(kMaxHandedOverPictureSide) + " on each side are taken."};
  }
  picture.png = std::move(*png);
  return picture;
}

}  // namespace torvo::toolbar
