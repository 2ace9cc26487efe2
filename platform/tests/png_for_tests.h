#pragma once
// PNG files for tests, built from their parts with zlib's own CRC, so the checks and readers
// of pictures are held against an independent writing of the format. Link ZLIB::ZLIB.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace torvo::testing {

inline std::string BigEndian(uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

inline std::string Chunk(std::string_view type, std::string_view data) {
  std::string body = std::string(type) + std::string(data);
  return BigEndian(uint32_t(data.size())) + body +
         BigEndian(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

inline std::string Header(uint32_t width, uint32_t height, uint8_t depth = 8, uint8_t colourType = 2) {
  return BigEndian(width) + BigEndian(height) + std::string{char(depth), char(colourType), 0, 0, 0};
}

// A whole PNG of width x height pixels: `pixels` holds the rows top down, 3 bytes a pixel (red,
// green, blue) for colour type 2 or 4 bytes (with alpha) for colour type 6; 8 bits a channel.
inline std::string Png(uint32_t width, uint32_t height, std::string_view pixels, uint8_t colourType = 2) {
  const size_t row = size_t(width) * (colourType == 6 ? 4 : 3);
  std::string raw;
  for (uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);  // no filter
    raw.append(pixels.substr(y * row, row));
  }
  uLongf size = compressBound(uLong(raw.size()));
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()));
  packed.resize(size);
  return std::string("\x89PNG\r\n\x1A\n", 8) + Chunk("IHDR", Header(width, height, 8, colourType)) +
         Chunk("IDAT", packed) + Chunk("IEND", "");
}

// A PNG of one colour, as browsers write them (RGB, 8 bits).
inline std::string SolidPng(uint32_t width, uint32_t height, uint8_t red, uint8_t green, uint8_t blue) {
  std::string pixels;
  for (uint64_t i = 0; i < uint64_t(width) * height; ++i) pixels += std::string{char(red), char(green), char(blue)};
  return Png(width, height, pixels);
}

inline std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
    text += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], kAlphabet[v & 63]};
  }
  if (bytes.size() - i == 1) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
    text += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], '=', '='};
  } else if (bytes.size() - i == 2) {
    uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8;
    text += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], '='};
  }
  return text;
}

inline std::string DataUrl(std::string_view png) { return "data:image/png;base64," + Base64(png); }

}  // namespace torvo::testing
