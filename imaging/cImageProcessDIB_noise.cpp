// Uniform noise on every channel, drawn from the process-wide generator.
#include <cstdint>

#include "imaging/cImageProcessDIB.h"
#include "imaging/pixel_grid.h"
#include "platform/arithmetic.h"
#include "platform/clock.h"
#include "platform/random.h"

namespace torvo {

void cImageProcessDIB::AddNoise(cDIBSection& cTo, int32_t lPercent, bool bRandom) {
  const uint32_t start = TickCountMs();
  const int32_t band = CheckedDiv(CheckedMul(lPercent, 128), 100);
  const int32_t halfBand = band / 2;
  const int32_t width = cTo.Width();
  const int32_t height = cTo.Height();
  RaiseInitProgress(CheckedMul(3, CheckedSub(width, 1)));
  // The draws are tied to the pixels in this order (decision, blue, green, red; column by
  // column), so the traversal stays exactly the processor's.
  PixelGrid grid(cTo);
  for (int32_t x = 0; x <= 3 * (width - 1); x += 3) {
    for (int32_t y = 0; y < height; ++y) {
      if (bRandom && !(NextUniform() * 100.0 > lPercent)) continue;
      int32_t noisy[3];
      for (int32_t k = 0; k < 3; ++k) {
        const double u = NextUniform();
        noisy[k] = ClampToByteRange(RoundToInt32(u * band + CheckedSub(grid(x + k, y), halfBand)));
      }
      for (int32_t k = 0; k < 3; ++k) grid(x + k, y) = static_cast<uint8_t>(noisy[k]);
    }
    RaiseProgress(x);
  }
  RaiseComplete(ElapsedMs(start, TickCountMs()));
}

}  // namespace torvo
