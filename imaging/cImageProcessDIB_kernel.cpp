// The kernel pass and the 3 x 3 neighbourhood pass. Each has two forms that give the same bytes
// and events: the pixel-by-pixel traversal (columns left to right, each from the bottom up),
// which stops exactly where an error arises, and a scan-line form for when no error can arise,
// which is many times faster because it walks memory in order and computes many bytes at once.
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/cImageProcessDIB.h"
#include "imaging/pixel_grid.h"
#include "imaging/row_filters.h"
#include "platform/arithmetic.h"
#include "platform/clock.h"

namespace torvo {

namespace {

// Whether source and destination are real, separate pixel memories and every byte the pass
// writes, columns 3 x firstPixel .. 3 x (width - firstPixel) - 1 of scan lines firstRow ..
// height - 1 - firstRow of the source's size, lies inside the destination.
bool RowsApply(const cDIBSection& source, const cDIBSection& destination, int32_t half) {
  if (!source.DIBSectionBitsPtr() || !destination.DIBSectionBitsPtr()) return false;
  if (source.DIBSectionBitsPtr() == destination.DIBSectionBitsPtr()) return false;
  const int64_t width = source.Width(), height = source.Height();
  if (width - 2 * half < 1 || height - 2 * half < 1) return false;
  return destination.BytesPerScanLine() >= 3 * (width - half) &&
         destination.Height() >= height - half;
}

// Surfaces of this many bytes or more are written with stores that bypass the caches.
constexpr int64_t kStreamingBytes = int64_t{8} << 20;

// memcpy with non-temporal stores: the target lines are not read into the cache first.
void StreamingCopy(uint8_t* to, const uint8_t* from, size_t bytes) {
#if defined(__SSE2__)
  size_t head = (16 - (reinterpret_cast<uintptr_t>(to) & 15)) & 15;
  if (head > bytes) head = bytes;
  std::memcpy(to, from, head);
  to += head;
  from += head;
  bytes -= head;
  for (; bytes >= 64; bytes -= 64, to += 64, from += 64) {
    for (int k = 0; k < 64; k += 16) {
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + k),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + k)));
    }
  }
  for (; bytes >= 16; bytes -= 16, to += 16, from += 16) {
    _mm_stream_si128(reinterpret_cast<__m128i*>(to), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
  }
#endif
  std::memcpy(to, from, bytes);
}

void StreamingCopyDone() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

}  // namespace

bool cImageProcessDIB::ConvolveKernel(cDIBSection& source, cDIBSection& destination) {
  if (ConvolveRows(source, destination)) return true;
  return ConvolveColumns(source, destination);
}

bool cImageProcessDIB::ConvolveColumns(cDIBSection& source, cDIBSection& destination) {
  const PixelGrid S(source), D(destination);
  const int32_t h = kernelHalf;
  const uint32_t start = TickCountMs();
  const int32_t lMax = CheckedMul(3, CheckedSub(CheckedSub(source.Width(), 1), h));
  RaiseInitProgress(lMax);
  const int32_t yLast = CheckedSub(CheckedSub(source.Height(), 1), h);
  for (int64_t column = 3 * int64_t{h}; column <= lMax; column += 3) {
    const auto x = static_cast<int32_t>(column);
    for (int32_t y = h; y <= yLast; ++y) {
      int32_t sum[3] = {0, 0, 0};
      for (int32_t i = -h; i <= h; ++i) {
        for (int32_t j = -h; j <= h; ++j) {
          for (int32_t c = 0; c < 3; ++c) {
            const int32_t v = S.Get(x + 3 * i + c, y + j);
            const int32_t product = CheckedMul(v, KernelAt(i, j));
            sum[c] = CheckedAdd(sum[c], product);
          }
        }
      }
      int32_t value[3];
      for (int32_t c = 0; c < 3; ++c) {
        value[c] = ClampToByteRange(CheckedDiv(sum[c], kernelWeight));
      }
      for (int32_t c = 0; c < 3; ++c) D.Set(x + c, y, static_cast<uint8_t>(value[c]));
    }
    RaiseProgress(x);
  }
  RaiseComplete(ElapsedMs(start, TickCountMs()));
  return true;
}

bool cImageProcessDIB::ConvolveRows(cDIBSection& source, cDIBSection& destination) {
  const int32_t h = kernelHalf;
  if (kernel.empty() || kernelWeight == 0 || !RowsApply(source, destination, h)) return false;
  const auto prepared = row_filters::KernelRows::Prepare(kernel, h, kernelWeight);
  if (!prepared) return false;

  const uint32_t start = TickCountMs();
  const int32_t width = source.Width(), height = source.Height();
  const int32_t lMax = 3 * (width - 1 - h);
  RaiseInitProgress(lMax);
  const int32_t sourceStride = source.BytesPerScanLine();
  const int32_t destinationStride = destination.BytesPerScanLine();
  const uint8_t* rows[9];
  for (int32_t y = h; y <= height - 1 - h; ++y) {
    for (int32_t k = 0; k <= 2 * h; ++k) {
      rows[k] = source.DIBSectionBitsPtr() + static_cast<int64_t>(y + k - h) * sourceStride;
    }
    prepared->Run(rows, destination.DIBSectionBitsPtr() + static_cast<int64_t>(y) * destinationStride,
                  3 * h, 3 * (width - 2 * h));
  }
  for (int32_t x = 3 * h; x <= lMax; x += 3) RaiseProgress(x);
  RaiseComplete(ElapsedMs(start, TickCountMs()));
  return true;
}

bool cImageProcessDIB::ConvolveInPlace(cDIBSection& cImage, cDIBSection& cBuffer) {
  const int32_t h = kernelHalf;
  if (kernel.empty() || kernelWeight == 0 || !RowsApply(cImage, cBuffer, h)) return false;
  if (cBuffer.Width() != cImage.Width() || cBuffer.Height() != cImage.Height()) return false;
  const auto prepared = row_filters::KernelRows::Prepare(kernel, h, kernelWeight);
  if (!prepared) return false;

  // The end state of "copy cImage into cBuffer, filter cImage into cBuffer, copy cBuffer back"
  // in one sweep up the picture: each filtered line goes to cBuffer at once, and back into
  // cImage h lines later, when no line still to be filtered reads the original any more.
  const uint32_t start = TickCountMs();
  const int32_t width = cImage.Width(), height = cImage.Height();
  const int32_t lMax = 3 * (width - 1 - h);
  RaiseInitProgress(lMax);
  const int32_t stride = cImage.BytesPerScanLine();
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  uint8_t* image = cImage.DIBSectionBitsPtr();
  uint8_t* buffer = cBuffer.DIBSectionBitsPtr();
  // Pictures far larger than the caches are written past them: the lines are not read again.
  const bool stream = static_cast<int64_t>(stride) * height >= kStreamingBytes;
  auto finish = [&] {
    for (int32_t x = 3 * h; x <= lMax; x += 3) RaiseProgress(x);
    RaiseComplete(ElapsedMs(start, TickCountMs()));
  };
  // Kernels with one outer value have a form that reads each source line from memory once and
  // writes both surfaces in the same pass; the others go line by line below.
  if (prepared->SweepInPlace(image, buffer, stride, width, height, stream)) {
    finish();
    return true;
  }
  auto store = [stream](uint8_t* to, const uint8_t* from, size_t bytes) {
    if (stream) {
      StreamingCopy(to, from, bytes);
    } else {
      std::memcpy(to, from, bytes);
    }
  };
  auto imageLine = [&](int32_t y) { return image + static_cast<int64_t>(y) * stride; };
  auto isInterior = [&](int32_t y) { return y >= h && y <= height - 1 - h; };
  // Filtered lines waiting to go back into cImage: h + 1 of them.
  std::vector<uint8_t> pending(static_cast<size_t>(h + 1) * rowBytes);
  auto pendingLine = [&](int32_t y) { return pending.data() + static_cast<size_t>(y % (h + 1)) * rowBytes; };
  const uint8_t* rows[9];
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* bufferLine = buffer + static_cast<int64_t>(y) * stride;
    if (!isInterior(y)) {
      store(bufferLine, imageLine(y), rowBytes);
    } else {
      for (int32_t k = 0; k <= 2 * h; ++k) rows[k] = imageLine(y + k - h);
      uint8_t* filtered = pendingLine(y);
      prepared->Run(rows, filtered, 3 * h, 3 * (width - 2 * h));
      // The frame of h pixels keeps the picture's own bytes.
      std::memcpy(filtered, imageLine(y), static_cast<size_t>(3 * h));
      std::memcpy(filtered + 3 * (width - h), imageLine(y) + 3 * (width - h), static_cast<size_t>(3 * h));
      store(bufferLine, filtered, rowBytes);
    }
    // Line y - h was read for the last time just now.
    if (y >= h && isInterior(y - h)) store(imageLine(y - h), pendingLine(y - h), rowBytes);
  }
  if (stream) StreamingCopyDone();
  finish();
  return true;
}

bool cImageProcessDIB::NeighbourhoodFilter3x3(cDIBSection& source, cDIBSection& destination) {
  if (NeighbourhoodRows(source, destination)) return true;
  return NeighbourhoodColumns(source, destination);
}

bool cImageProcessDIB::NeighbourhoodColumns(cDIBSection& source, cDIBSection& destination) {
  const PixelGrid S(source), D(destination);
  const uint32_t start = TickCountMs();
  const int32_t lMax = CheckedMul(3, CheckedSub(source.Width(), 2));
  RaiseInitProgress(lMax);
  const int32_t yLast = CheckedSub(source.Height(), 2);
  for (int64_t column = 3; column <= lMax; column += 3) {
    const auto x = static_cast<int32_t>(column);
    for (int32_t y = 1; y <= yLast; ++y) {
      int32_t value[3];
      std::fill_n(value, 3, filterType == FilterMinimum3 ? 255 : 0);
      for (int32_t i = -1; i <= 1; ++i) {
        for (int32_t j = -1; j <= 1; ++j) {
          for (int32_t c = 0; c < 3; ++c) {
            int32_t v = S.Get(x + 3 * i + c, y + j);
            switch (filterType) {
              case FilterAverage3: value[c] += v; break;
              case FilterMinimum3: if (v < value[c]) value[c] = v; break;
              case FilterMaximum3: if (v > value[c]) value[c] = v; break;
              default: break;
            }
          }
        }
      }
      if (filterType == FilterAverage3) {
        for (int32_t& v : value) v /= 9;
      }
      for (int32_t c = 0; c < 3; ++c) {
        D.Set(x + c, y, static_cast<uint8_t>(ClampToByteRange(value[c])));
      }
    }
    RaiseProgress(x);
  }
  RaiseComplete(ElapsedMs(start, TickCountMs()));
  return true;
}

bool cImageProcessDIB::NeighbourhoodRows(cDIBSection& source, cDIBSection& destination) {
  if (filterType < FilterAverage3 || filterType > FilterMaximum3) return false;
  if (!RowsApply(source, destination, 1)) return false;
  std::optional<row_filters::KernelRows> average;
  if (filterType == FilterAverage3) {
    // The average is the all-ones kernel divided by 9: the same sum and the same truncation.
    average = row_filters::KernelRows::Prepare(std::vector<int32_t>(9, 1), 1, 9);
  }
  const uint32_t start = TickCountMs();
  const int32_t width = source.Width(), height = source.Height();
  const int32_t lMax = 3 * (width - 2);
  RaiseInitProgress(lMax);
  const int32_t sourceStride = source.BytesPerScanLine();
  const int32_t destinationStride = destination.BytesPerScanLine();
  const uint8_t* rows[3];
  for (int32_t y = 1; y <= height - 2; ++y) {
    for (int32_t k = 0; k < 3; ++k) {
      rows[k] = source.DIBSectionBitsPtr() + static_cast<int64_t>(y + k - 1) * sourceStride;
    }
    uint8_t* out = destination.DIBSectionBitsPtr() + static_cast<int64_t>(y) * destinationStride;
    if (average) {
      average->Run(rows, out, 3, 3 * (width - 2));
    } else {
      row_filters::MinMaxRow(rows, out, 3, 3 * (width - 2), filterType == FilterMinimum3);
    }
  }
  for (int32_t x = 3; x <= lMax; x += 3) RaiseProgress(x);
  RaiseComplete(ElapsedMs(start, TickCountMs()));
  return true;
}

}  // namespace torvo
