// torvo-image's input pictures: any file either loads as a 24-bit surface of the size FreeImage
// reports, or is refused with a PictureError; nothing else may happen.
//
// The tool takes pictures of up to 2 GiB of pixels, and a run-length BMP of a few bytes can
// rightly be that big. Holding such a picture is not a fault of the reader, but it does not fit
// the fuzzer's 256 MiB; a file whose header promises more than 4 megapixels is therefore read up
// to its header only.
#include <FreeImage.h>

#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tools/torvo-image/operations.h"
#include "tools/torvo-image/picture_io.h"

constexpr int64_t kMostPixels = int64_t{4} << 20;

// Where the rows' sum goes, so reading them is not optimised away.
volatile uint32_t gRowSum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace torvo;
  static fuzz::ScratchFile file;
  const auto& path = file.Write(fuzz::Bytes(data, size));
  const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
  if (format == FIF_BMP || format == FIF_PNG) {
    if (FIBITMAP* header = FreeImage_Load(format, path.c_str(), FIF_LOAD_NOPIXELS)) {
      const int64_t pixels = int64_t{FreeImage_GetWidth(header)} * FreeImage_GetHeight(header);
      FreeImage_Unload(header);
      if (pixels > kMostPixels) return 0;
    }
  }
  std::unique_ptr<cDIBSection> surface;
  try {
    surface = image_tool::LoadPicture(path);
  } catch (const image_tool::PictureError& e) {
    TORVO_FUZZ_CHECK(*e.what() != '\0', "a refusal without a message");
    return 0;
  }
  TORVO_FUZZ_CHECK(surface && surface->Width() > 0 && surface->Height() > 0, "a loaded picture without pixels");
  TORVO_FUZZ_CHECK(surface->BytesPerScanLine() == (3 * surface->Width() + 3) / 4 * 4, "the scan line is not 24-bit");
  TORVO_FUZZ_CHECK(surface->DIBSectionBitsPtr() != nullptr, "a loaded picture without memory");
  // Touch the last byte of every row, so a surface shorter than it claims shows up.
  uint32_t sum = 0;
  const uint8_t* bits = surface->DIBSectionBitsPtr();
  for (int32_t y = 0; y < surface->Height(); ++y) sum += bits[int64_t{y} * surface->BytesPerScanLine() + 3 * surface->Width() - 1];
  gRowSum = sum;
  return 0;
}
