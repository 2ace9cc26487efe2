#include "upload/thumbnail_size.h"

#include <algorithm>
#include <cmath>

#include "platform/arithmetic.h"

namespace torvo::upload {

ThumbnailExtent ThumbnailSize(int16_t W, int16_t H) {
  if (W <= 0 || H <= 0) RaiseRuntimeError(kErrDivisionByZero);
  ThumbnailExtent size;
  if (W > H) {
    size.width = 200;
    size.height = static_cast<int32_t>(std::floor(static_cast<double>(CheckedMul(H, 200)) / W));
  } else {
    size.height = 160;
    size.width = static_cast<int32_t>(std::floor(static_cast<double>(CheckedMul(W, 160)) / H));
  }
  size.width = std::max(size.width, 1);
  size.height = std::max(size.height, 1);
  return size;
}

}  // namespace torvo::upload
