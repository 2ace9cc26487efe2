// Clipboard export and random fill of a surface.
#include <cmath>
#include <cstdint>
#include <optional>

#include "imaging/cDIBSection.h"
#include "platform/desktop_services.h"
#include "imaging/random_fill.h"
#include "platform/random.h"

namespace torvo {

namespace {

std::optional<uint64_t>& FixedFillSeed() {
  static std::optional<uint64_t> seed;
  return seed;
}

// 255 x r to the nearest integer, halves to even; r < 1 keeps it within 0..255.
inline uint8_t RandomByte() {
  return static_cast<uint8_t>(std::nearbyint(255.0 * NextUniform()));
}

}  // namespace

void SetRandomFillSeed(std::optional<uint64_t> seed) { FixedFillSeed() = seed; }

bool cDIBSection::CopyToClipboard(bool bAsDIB) {
  bool result = false;
  DesktopServices* desktop = TheDesktopServices();
  const gdi::DeviceContext* screen = desktop ? desktop->ScreenContext() : nullptr;
  if (!screen) return false;
  std::unique_ptr<gdi::DeviceContext> memory = gdi::CreateCompatibleDC(screen);
  if (!memory) return false;
  if (bAsDIB) {
    desktop->ShowMessage(u"I don't know how to put a DIB on the clipboard! Copy as bitmap instead!!!");
    return false;
  }
  std::unique_ptr<gdi::Bitmap> bitmap = gdi::CreateCompatibleBitmap(screen, Width(), Height());
  if (!bitmap) return false;
  gdi::Bitmap* displaced = memory->SelectObject(bitmap.get());
  PaintPicture(memory.get(), 0, 0, -1, -1, 0, 0, gdi::Rop::kSrcCopy);
  memory->SelectObject(displaced);
  // The clipboard keeps its own copy; ours goes with this call.
  result = desktop->PutBitmapOnClipboard(*bitmap);
  return result;
}

void cDIBSection::RandomiseBits(bool bGray) {
  ReseedUniform(FixedFillSeed() ? *FixedFillSeed() : SecondsSinceMidnight());
  if (!lBitsPtr) return;
  const int32_t width = Width();
  const int32_t height = Height();
  const int32_t stride = BytesPerScanLine();
  if (bGray) {
    // Scan line by scan line: one draw per pixel, in all three bytes.
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* p = lBitsPtr + static_cast<int64_t>(y) * stride;
      for (int32_t x = 0; x < width; ++x, p += 3) p[0] = p[1] = p[2] = RandomByte();
    }
  } else {
    // Column by column: blue 0, then a draw for green and one for red.
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = lBitsPtr + 3 * static_cast<int64_t>(x);
      for (int32_t y = 0; y < height; ++y, p += stride) {
        p[0] = 0;
        p[1] = RandomByte();
        p[2] = RandomByte();
      }
    }
  }
}

}  // namespace torvo
