// The browser's picture of the page as TorvoTool decodes it: the PNGs read straight into our rows
// (plain ones by our own road, the rest by libpng) must come out exactly as FreeImage reads them,
// pixels and refusals alike, and any other PNG as FreeImage alone reads it. The sides are held
// to 1024 here (TorvoTool allows 16384) so that a header's promise fits the fuzzer's memory.
#include <cstdint>
#include <cstddef>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "platform/picture_file.h"
#include "platform/png_rows.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace torvo;
  const auto png = fuzz::Bytes(data, size);
  constexpr int32_t kMostSide = 1024;
  std::unique_ptr<gdi::Bitmap> ours = DecodePng(png, kMostSide);
  if (!PngChunksFit(png)) {
    // FreeImage would fail too, but only after asking for the chunk's memory, which need not fit.
    TORVO_FUZZ_CHECK(ours == nullptr, "a chunk longer than the file was read");
    return 0;
  }
  // The plain road, when it takes a picture, gives libpng's pixels.
  const PngRowsResult plain = DecodePlainPng(png, kMostSide);
  if (plain.outcome == PngRowsOutcome::kDecoded) {
    const PngRowsResult libpng = DecodeThroughLibpng(png, kMostSide);
    TORVO_FUZZ_CHECK(libpng.outcome == PngRowsOutcome::kDecoded, "the plain road read what libpng refused");
    const gdi::Bitmap& a = *plain.bitmap;
    const gdi::Bitmap& b = *libpng.bitmap;
    TORVO_FUZZ_CHECK(a.width() == b.width() && a.height() == b.height(), "the plain road's sides differ");
    for (int32_t y = 0; y < a.height(); ++y)
      TORVO_FUZZ_CHECK(std::memcmp(a.ScanLine(y), b.ScanLine(y), size_t(a.width()) * 3) == 0, "the plain road's pixels differ");
  }
  std::unique_ptr<gdi::Bitmap> theirs = DecodePngThroughFreeImage(png, kMostSide);
  TORVO_FUZZ_CHECK((ours == nullptr) == (theirs == nullptr), "one decoder refused what the other read");
  if (!ours) return 0;
  TORVO_FUZZ_CHECK(ours->width() == theirs->width() && ours->height() == theirs->height(), "the sides differ");
  TORVO_FUZZ_CHECK(ours->width() <= kMostSide && ours->height() <= kMostSide, "a side over the limit");
  TORVO_FUZZ_CHECK(ours->bitsPerPixel() == 24, "not 24 bits a pixel");
  for (int32_t y = 0; y < ours->height(); ++y) {
    TORVO_FUZZ_CHECK(std::memcmp(ours->ScanLine(y), theirs->ScanLine(y), size_t(ours->width()) * 3) == 0,
                     "the pixels differ");
  }
  return 0;
}
