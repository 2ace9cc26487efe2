#pragma once
// The image processor: filter settings (a preset or a custom square kernel with a divisor), the
// filter run by ProcessImage, and whole-image operations on surfaces. Operations work in place
// in the surfaces' pixel memory, visiting pixel columns from left to right and, in each, the
// scan lines from the bottom up; they report progress through three synchronous events.
//
// Errors: the class's own carry the source "<program>.cImageProcess" and the numbers
// kErrInvalidSize (0x80040519) and kErrInvalid (0x8004051A); run-time errors (6 overflow,
// 9 subscript out of range, 11 division by zero) pass to the caller as raised. Pixels written
// before an error stay written, and Complete is not raised.
#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/cDIBSection.h"

namespace torvo {

class cPalette;

class cImageProcessDIB {
 public:
  // The language's base for object errors plus 1305 and 1306.
  static constexpr int32_t kErrInvalidSize = static_cast<int32_t>(0x80040519);  // -2147220199
  static constexpr int32_t kErrInvalid = static_cast<int32_t>(0x8004051A);      // -2147220198

  enum eFilterType : int32_t {
    FilterBlur3 = 1,
    FilterBlur5 = 2,
    FilterSoften3 = 3,
    FilterSoften5 = 4,
    FilterSharpen = 5,
    FilterSharpenCross = 6,
    FilterUnsharpMask = 7,
    FilterEmboss = 8,
    FilterAverage3 = 9,
    FilterMinimum3 = 10,
    FilterMaximum3 = 11,
    FilterNone = 12,
    FilterCustom = 13,
  };

  // Subscribers to the events. Raised synchronously on the caller's thread:
  //   InitProgress(lMax)      once before the first column, lMax the last column's byte column;
  //   Progress(lPosition)     after every finished column, with its byte column;
  //   Complete(lTimeMs)       once after the last column, with the running time.
  struct Events {
    std::function<void(int32_t lMax)> InitProgress;
    std::function<void(int32_t lPosition)> Progress;
    std::function<void(int32_t lTimeMs)> Complete;
  };
  Events events;

  // 1 to 13; presets other than 13 build their kernel and weight, 13 keeps what was set.
  // Outside 1..13 raises kErrInvalid "Invalid filter types." and changes nothing.
  void FilterType(int32_t eType);

  int32_t FilterArraySize() const { return kernelSize; }
  // 3, 5, 7 or 9: a new kernel of zeros (the weight stays). Even sizes raise kErrInvalidSize
  // "Size must be an odd number"; other odd sizes raise kErrInvalid.
  void FilterArraySize(int32_t lSize);

  // Coefficient (iX, iY): iX pixels to the right, iY scan lines up. Outside the kernel, or with
  // no kernel yet, raises 9.
  int32_t FilterValue(int32_t iX, int32_t iY) const;
  void FilterValue(int32_t iX, int32_t iY, int32_t lValue);

  int32_t FilterWeight() const { return kernelWeight; }
  void FilterWeight(int32_t lWeight) { kernelWeight = lWeight; }

  // Runs the chosen filter over cImage with cBuffer (at least as large) as work surface. False,
  // changing nothing, for FilterNone or when no filter was chosen.
  bool ProcessImage(cDIBSection& cImage, cDIBSection& cBuffer);

  // cTo keeps, pixel by pixel, the lighter (AddLightest) or darker (AddDarkest) of its own pixel
  // and cFrom's by brightness 222 R + 707 G + 71 B; on equal brightness cTo keeps its own.
  void AddLightest(cDIBSection& cFrom, cDIBSection& cTo);
  void AddDarkest(cDIBSection& cFrom, cDIBSection& cTo);
  // cTo = (cFrom + from offset) x lFromMultiplier + (cTo + to offset) x lToMultiplier per
  // channel, clamped to 0..255. Always returns false.
  bool AddImages(cDIBSection& cFrom, cDIBSection& cTo, int32_t lFromMultiplier,
                 int32_t lFromOffsetR, int32_t lFromOffsetG, int32_t lFromOffsetB,
                 int32_t lToMultiplier, int32_t lToOffsetR, int32_t lToOffsetG,
                 int32_t lToOffsetB);

  void BlackAndWhite(cDIBSection& cFrom, cDIBSection& cTo);
  void ApplyPalette(cDIBSection& cFrom, cDIBSection& cTo, cPalette& cPal);
  void GrayScale(cDIBSection& cTo);
  void AddNoise(cDIBSection& cTo, int32_t lPercent, bool bRandom = false);
  void Fade(cDIBSection& cTo, int32_t lAmount);
  void Lighten(cDIBSection& cTo, int32_t lAmount);
  void Colourise(cDIBSection& cTo, float fHue, float fSaturation);

 private:
  friend class cImageProcessDIBTestAccess;

  void BuildPresetKernel();
  bool NeighbourhoodFilter3x3(cDIBSection& source, cDIBSection& destination);
  bool ConvolveKernel(cDIBSection& source, cDIBSection& destination);
  void Clamp(int32_t& value, int32_t lMin, int32_t lMax);

  // The passes exactly as traversed: column by column, pixel by pixel, every access checked, so
  // an error stops them at the very pixel where it arises.
  bool ConvolveColumns(cDIBSection& source, cDIBSection& destination);
  bool NeighbourhoodColumns(cDIBSection& source, cDIBSection& destination);
  // The same passes a scan line at a time, for when no error can arise during the pass: the same
  // bytes and events. Return false (having done nothing) when they do not apply.
  bool ConvolveRows(cDIBSection& source, cDIBSection& destination);
  bool NeighbourhoodRows(cDIBSection& source, cDIBSection& destination);
  // ProcessImage's kernel presets as one pass when cImage and cBuffer have the same size: the
  // same end state as copy, ConvolveKernel, copy back. False (nothing done) when not applicable.
  bool ConvolveInPlace(cDIBSection& cImage, cDIBSection& cBuffer);

  // Raises the class's own error with the source "<program>.cImageProcess".
  [[noreturn]] static void RaiseError(int32_t number, const char* description);

  void RaiseInitProgress(int32_t lMax);
  void RaiseProgress(int32_t lPosition);
  void RaiseComplete(int32_t lTimeMs);

  // The kernel, both indices -kernelHalf..+kernelHalf; kernel[(j + h) * size + (i + h)].
  int32_t& KernelAt(int32_t i, int32_t j);

  int32_t kernelSize = 0;
  int32_t kernelHalf = 0;
  std::vector<int32_t> kernel;  // empty until FilterArraySize is first set
  int32_t kernelWeight = 0;
  int32_t filterType = 0;
};

}  // namespace torvo
