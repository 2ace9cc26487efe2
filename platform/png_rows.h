#pragma once
// The browser's pictures of a page (8-bit RGB or RGBA PNGs, not interlaced) decoded straight into
// the rows of a 24-bit bitmap: plain ones by libdeflate and our own row filters, the rest by
// libpng.
// libpng is asked for the very transformations FreeImage asks for (blue first, the file's gamma,
// a transparent colour made alpha) and checks what it checks, so the pixels and the refusals are
// FreeImage's own; what it saves is FreeImage's 32-bit picture, its row calls and the conversion
// to 24 bits that followed.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/gdi/gdi.h"

namespace torvo {

enum class PngRowsOutcome {
  kDecoded,   // bitmap holds the picture
  kRefused,   // not a whole, readable PNG, or a side is longer than maxSide
  kNotTaken,  // another kind of PNG (grey, palette, 16 bits, interlaced): for FreeImage
};

struct PngRowsResult {
  PngRowsOutcome outcome = PngRowsOutcome::kRefused;
  std::unique_ptr<gdi::Bitmap> bitmap;
};

// A PNG with a chunk up to IEND that claims more bytes than are left is refused before any
// decoder sees it: both would fail reading past the end, but only after asking for that much
// memory (up to 2 GiB from a file of a few bytes).
PngRowsResult DecodePngRows(std::string_view png, int32_t maxSide);

// Its two roads, for the tests. The plain road takes only a plain, whole PNG (8-bit RGB or RGBA,
// not interlaced, every check right, no chunk that changes a pixel, the stream ending with the
// last row) and unpacks it itself; anything else is kNotTaken and goes through libpng, whose
// answer DecodePngRows gives.
PngRowsResult DecodePlainPng(std::string_view png, int32_t maxSide);
PngRowsResult DecodeThroughLibpng(std::string_view png, int32_t maxSide);

// Whether every chunk up to IEND (or the end of the bytes) ends within them.
bool PngChunksFit(std::string_view png);

}  // namespace torvo
