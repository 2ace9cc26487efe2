#include "platform/png_rows.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

namespace torvo {

namespace {

struct Source {
  const uint8_t* bytes;
  size_t size;
  size_t at;
};

// A read past the end is an error, as FreeImage's memory reader makes it.
void ReadFromMemory(png_structp png, png_bytep to, size_t count) {
  auto* source = static_cast<Source*>(png_get_io_ptr(png));
  if (count > source->size - source->at) png_error(png, "Read error: invalid or corrupted PNG file");
  std::memcpy(to, source->bytes + source->at, count);
  source->at += count;
}

[[noreturn]] void Fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void IgnoreWarning(png_structp, png_const_charp) {}

// Everything that must outlive a jump out of libpng lives here, outside the frame that set it.
struct Decoding {
  png_structp png = nullptr;
  png_infop info = nullptr;
  Source source{};
  int32_t maxSide = 0;
  PngRowsResult result;
  std::vector<uint8_t> row;  // one row of four bytes a pixel, when the picture has alpha
};

// The colour bytes of each four-byte pixel, in order.
void DropFourthBytes(const uint8_t* from, uint8_t* to, uint32_t pixels) {
  for (uint32_t x = 0; x < pixels; ++x, from += 4, to += 3) {
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
  }
}

// false when libpng gave up part-way.
bool Run(Decoding& d) {
  if (setjmp(png_jmpbuf(d.png))) return false;
  png_set_read_fn(d.png, &d.source, ReadFromMemory);
  png_set_sig_bytes(d.png, 8);
  png_read_info(d.png, d.info);
  png_uint_32 width = 0, height = 0;
  int depth = 0, colourType = 0, interlace = 0;
  png_get_IHDR(d.png, d.info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
  if (depth != 8 || (colourType != PNG_COLOR_TYPE_RGB && colourType != PNG_COLOR_TYPE_RGB_ALPHA) ||
      interlace != PNG_INTERLACE_NONE) {
    d.result.outcome = PngRowsOutcome::kNotTaken;
    return true;
  }
  // The sides before any memory is taken for them.
  if (width == 0 || height == 0 || width > static_cast<png_uint_32>(d.maxSide) ||
      height > static_cast<png_uint_32>(d.maxSide)) {
    return true;
  }
  if (colourType == PNG_COLOR_TYPE_RGB && png_get_valid(d.png, d.info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(d.png);
  png_set_bgr(d.png);
  // FreeImage corrects for the file's gamma, when it names one, towards a screen of 2.2.
  if (png_get_valid(d.png, d.info, PNG_INFO_gAMA)) {
    double gamma = 0;
    if (png_get_gAMA(d.png, d.info, &gamma)) png_set_gamma(d.png, 2.2, gamma);
  }
  png_read_update_info(d.png, d.info);
  const bool alpha = png_get_channels(d.png, d.info) == 4;
  d.result.bitmap = gdi::Bitmap::Create(static_cast<int32_t>(width), static_cast<int32_t>(height), 24);
  if (!d.result.bitmap) return true;
  if (alpha) d.row.resize(size_t{width} * 4);
  png_set_benign_errors(d.png, 1);
  // PNG rows run top down, ours bottom up.
  for (png_uint_32 k = 0; k < height; ++k) {
    uint8_t* line = d.result.bitmap->ScanLine(static_cast<int32_t>(height - 1 - k));
    if (alpha) {
      png_read_row(d.png, d.row.data(), nullptr);
      DropFourthBytes(d.row.data(), line, width);
    } else {
      png_read_row(d.png, line, nullptr);
    }
  }
  // The chunks after the pixels must be whole too, up to the end.
  png_read_end(d.png, d.info);
  d.result.outcome = PngRowsOutcome::kDecoded;
  return true;
}

}  // namespace

bool PngChunksFit(std::string_view png) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(png.data());
  size_t at = 8;
  while (at + 8 <= png.size()) {
    const uint64_t length = uint64_t{bytes[at]} << 24 | uint64_t{bytes[at + 1]} << 16 | uint64_t{bytes[at + 2]} << 8 | bytes[at + 3];
    if (length + 12 > png.size() - at) return false;
    if (std::memcmp(bytes + at + 4, "IEND", 4) == 0) return true;
    at += 12 + static_cast<size_t>(length);
  }
  return true;
}

PngRowsResult DecodePngRows(std::string_view png, int32_t maxSide) {
  Decoding d;
  if (png.size() < 8 || png.size() > 0x7FFFFFFFu) return {};
  const auto* bytes = reinterpret_cast<const uint8_t*>(png.data());
  if (png_sig_cmp(bytes, 0, 8) != 0 || !PngChunksFit(png)) return {};
  d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Fail, IgnoreWarning);
  if (!d.png) return {};
  d.info = png_create_info_struct(d.png);
  if (d.info) {
    d.source = {bytes, png.size(), 8};
    d.maxSide = maxSide;
    if (!Run(d)) d.result = {};
  }
  png_destroy_read_struct(&d.png, d.info ? &d.info : nullptr, nullptr);
  if (d.result.outcome != PngRowsOutcome::kDecoded) d.result.bitmap.reset();
  return std::move(d.result);
}

}  // namespace torvo
