// torvo-image's input pictures: any file either loads as a 24-bit surface of the size FreeImage
// reports, or is refused with a PictureError; nothing else may happen.
#include <FreeImage.h>

#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "tools/torvo-image/operations.h"
#include "tools/torvo-image/picture_io.h"

// Where the rows' sum goes, so reading them is not optimised away.
volatile uint32_t gRowSum;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace torvo;
  static fuzz::ScratchFile file;
  const auto& path = file.Write(fuzz::Bytes(data, size));
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
