// Lighten and colourise: each pixel through the HLS model and back, in place.
#include <cstdint>

#include "imaging/cImageProcessDIB.h"
#include "imaging/column_bands.h"
#include "imaging/mHLSRGB.h"
#include "imaging/pixel_grid.h"
#include "platform/arithmetic.h"
#include "platform/clock.h"

namespace torvo {

namespace {

struct Lightening {
  double factor;  // lAmount / 100 + 1
  void operator()(int32_t red, int32_t green, int32_t blue, int32_t& newRed, int32_t& newGreen,
                  int32_t& newBlue) const {
    float h, s, l;
    mHLSRGB::RGBToHLS(red, green, blue, h, s, l);
    l = static_cast<float>(l * factor);
    if (l > 1) l = 1;  // no lower limit: below -100 the lightness turns negative
    mHLSRGB::HLSToRGB(h, s, l, newRed, newGreen, newBlue);
  }
};

struct Colouring {
  float fHue;
  void operator()(int32_t red, int32_t green, int32_t blue, int32_t& newRed, int32_t& newGreen,
                  int32_t& newBlue) const {
    float h, s, l;
    mHLSRGB::RGBToHLS(red, green, blue, h, s, l);
    // Greys, and colours whose hue is exactly red, take half saturation.
    if (h == 0) s = 0.5f;
    mHLSRGB::HLSToRGB(fHue, s, l, newRed, newGreen, newBlue);
  }
};

// Narrow enough that the progress moves while a big picture is worked on.
constexpr int32_t kHlsBandPixels = 256;

}  // namespace

// Shared by Lighten and Colourise. When the new components cannot leave 0..255 the picture is
// walked in column bands (the same bytes, kinder to memory); otherwise exactly column by column,
// so a component that does not fit a byte stops the pass right there.
template <typename Change>
static void ChangeEachPixel(cDIBSection& cTo, const Change& change, bool cannotFail,
                            const std::function<void(int32_t)>& progress) {
  const int32_t width = cTo.Width();
  const int32_t height = cTo.Height();
  if (cTo.DIBSectionBitsPtr() && cannotFail) {
    column_bands::ForEachBand(
        cTo.DIBSectionBitsPtr(), cTo.BytesPerScanLine(), width, height, kHlsBandPixels,
        [&change](uint8_t* p, int32_t count) {
          for (int32_t i = 0; i < count; ++i, p += 3) {
            int32_t red, green, blue;
            change(p[2], p[1], p[0], red, green, blue);
            p[0] = ToByte(blue);
            p[1] = ToByte(green);
            p[2] = ToByte(red);
          }
        },
        progress);
    return;
  }
  PixelGrid grid(cTo);
  for (int32_t x = 0; x <= 3 * (width - 1); x += 3) {
    for (int32_t y = 0; y < height; ++y) {
      int32_t red, green, blue;
      change(grid(x + 2, y), grid(x + 1, y), grid(x, y), red, green, blue);
      grid(x, y) = ToByte(blue);
      grid(x + 1, y) = ToByte(green);
      grid(x + 2, y) = ToByte(red);
    }
    progress(x);
  }
}

void cImageProcessDIB::Lighten(cDIBSection& cTo, int32_t lAmount) {
  const uint32_t start = TickCountMs();
  RaiseInitProgress(CheckedMul(3, CheckedSub(cTo.Width(), 1)));
  // From -100 up the lightness stays within 0..1, and so does every component.
  ChangeEachPixel(cTo, Lightening{lAmount / 100.0 + 1}, lAmount >= -100,
                  [this](int32_t x) { RaiseProgress(x); });
  RaiseComplete(ElapsedMs(start, TickCountMs()));
}

void cImageProcessDIB::Colourise(cDIBSection& cTo, float fHue, float fSaturation) {
  // The saturation argument has never steered anything; the pixel's own saturation is kept.
  (void)fSaturation;
  const uint32_t start = TickCountMs();
  RaiseInitProgress(CheckedMul(3, CheckedSub(cTo.Width(), 1)));
  // A hue on the circle (-1..5) with saturation and lightness in 0..1 gives components in 0..1.
  ChangeEachPixel(cTo, Colouring{fHue}, fHue >= -1 && fHue <= 5, [this](int32_t x) { RaiseProgress(x); });
  RaiseComplete(ElapsedMs(start, TickCountMs()));
}

}  // namespace torvo
