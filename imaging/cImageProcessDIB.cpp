#include "imaging/cImageProcessDIB.h"

#include <algorithm>
#include <cstdlib>

#include "platform/arithmetic.h"
#include "platform/error.h"

namespace torvo {

void cImageProcessDIB::RaiseError(int32_t number, const char* description) {
  throw TorvoError(number, ProgramName() + ".cImageProcess", description);
}

void cImageProcessDIB::RaiseInitProgress(int32_t lMax) {
  if (events.InitProgress) events.InitProgress(lMax);
}
void cImageProcessDIB::RaiseProgress(int32_t lPosition) {
  if (events.Progress) events.Progress(lPosition);
}
void cImageProcessDIB::RaiseComplete(int32_t lTimeMs) {
  if (events.Complete) events.Complete(lTimeMs);
}

int32_t& cImageProcessDIB::KernelAt(int32_t i, int32_t j) {
  if (kernel.empty() || i < -kernelHalf || i > kernelHalf || j < -kernelHalf || j > kernelHalf) {
    RaiseRuntimeError(kErrSubscriptOutOfRange);
  }
  return kernel[static_cast<size_t>((j + kernelHalf) * kernelSize + (i + kernelHalf))];
}

void cImageProcessDIB::FilterType(int32_t eType) {
  if (eType < FilterBlur3 || eType > FilterCustom) RaiseError(kErrInvalid, "Invalid filter types.");
  filterType = eType;
  if (eType != FilterCustom) BuildPresetKernel();
}

void cImageProcessDIB::FilterArraySize(int32_t lSize) {
  if (lSize % 2 == 0) RaiseError(kErrInvalidSize, "Size must be an odd number");
  if (lSize < 3 || lSize > 9) {
    RaiseError(kErrInvalid, "Invalid size.  Size should be an odd number from 3 to 9");
  }
  kernelSize = lSize;
  kernelHalf = lSize / 2;
  kernel.assign(static_cast<size_t>(lSize) * lSize, 0);
}

int32_t cImageProcessDIB::FilterValue(int32_t iX, int32_t iY) const {
  return const_cast<cImageProcessDIB*>(this)->KernelAt(iX, iY);
}

void cImageProcessDIB::FilterValue(int32_t iX, int32_t iY, int32_t lValue) {
  KernelAt(iX, iY) = lValue;
}

void cImageProcessDIB::BuildPresetKernel() {
  kernelWeight = 0;
  switch (filterType) {
    case FilterBlur3:
    case FilterBlur5:
      FilterArraySize(filterType == FilterBlur3 ? 3 : 5);
      kernel.assign(kernel.size(), 1);
      break;
    case FilterSoften3:
    case FilterSoften5: {
      FilterArraySize(filterType == FilterSoften3 ? 3 : 5);
      for (int32_t j = -kernelHalf; j <= kernelHalf; ++j) {
        for (int32_t i = -kernelHalf; i <= kernelHalf; ++i) {
          int32_t distance = std::max(std::abs(i), std::abs(j));
          KernelAt(i, j) = kernelHalf - distance + 1;
        }
      }
      // 4.5 and 12.5 round to the even neighbour: 4 and 12.
      KernelAt(0, 0) = RoundToInt32(kernelSize / 2.0 * kernelSize);
      break;
    }
    case FilterSharpen:
      FilterArraySize(3);
      kernel.assign(kernel.size(), -1);
      KernelAt(0, 0) = 15;
      break;
    case FilterSharpenCross:
      FilterArraySize(3);
      KernelAt(0, 0) = 5;
      KernelAt(-1, 0) = KernelAt(1, 0) = KernelAt(0, -1) = KernelAt(0, 1) = -1;
      break;
    case FilterEmboss:
      // Lower-left neighbour subtracted, upper-right added (scan line +1 is one row higher).
      FilterArraySize(3);
      KernelAt(-1, -1) = -1;
      KernelAt(1, 1) = 1;
      kernelWeight = 1;
      return;
    default:
      // Presets that do not run a kernel of their own keep whatever kernel there is.
      return;
  }
  int32_t sum = 0;
  for (int32_t coefficient : kernel) sum = CheckedAdd(sum, coefficient);
  kernelWeight = sum;
}

bool cImageProcessDIB::ProcessImage(cDIBSection& cImage, cDIBSection& cBuffer) {
  // To copy A into B is one block transfer of the whole of A onto B at (0, 0).
  auto copy = [](cDIBSection& from, cDIBSection& to) { to.LoadPictureBlt(from.hdc()); };
  switch (filterType) {
    case FilterBlur3:
    case FilterBlur5:
    case FilterSoften3:
    case FilterSoften5:
    case FilterSharpen:
    case FilterSharpenCross:
    case FilterCustom: {
      if (ConvolveInPlace(cImage, cBuffer)) return true;
      copy(cImage, cBuffer);
      bool result = ConvolveKernel(cImage, cBuffer);
      copy(cBuffer, cImage);
      return result;
    }
    case FilterUnsharpMask: {
      FilterType(FilterBlur3);
      copy(cImage, cBuffer);
      bool result = ConvolveKernel(cImage, cBuffer);
      // 2 x picture - blurred picture.
      AddImages(cBuffer, cImage, -1, 0, 0, 0, 2, 0, 0, 0);
      FilterType(FilterUnsharpMask);
      return result;
    }
    case FilterEmboss: {
      copy(cImage, cBuffer);
      bool result = ConvolveKernel(cImage, cBuffer);
      // Mid-grey for no difference; this covers the unfiltered frame too.
      AddImages(cBuffer, cImage, 1, 127, 127, 127, 0, 0, 0, 0);
      return result;
    }
    case FilterAverage3:
    case FilterMinimum3:
    case FilterMaximum3: {
      copy(cImage, cBuffer);
      bool result = NeighbourhoodFilter3x3(cImage, cBuffer);
      copy(cBuffer, cImage);
      return result;
    }
    default:
      return false;
  }
}

}  // namespace torvo
