#include "platform/gdi/gdi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace torvo::gdi {

namespace {
// From this size on a picture's memory is worth whole large pages and room to hand on.
constexpr int64_t kLargePicture = int64_t{4} << 20;
}  // namespace

uint8_t* AllocatePixels(int64_t bytes, bool zeroed) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr int64_t kLargePage = int64_t{2} << 20;
  if (bytes >= kLargePicture) {
    const int64_t whole = (bytes + kLargePage - 1) & ~(kLargePage - 1);
    if (auto* bits = static_cast<uint8_t*>(std::aligned_alloc(kLargePage, static_cast<size_t>(whole)))) {
      madvise(bits, static_cast<size_t>(whole), MADV_HUGEPAGE);
      if (zeroed) std::memset(bits, 0, static_cast<size_t>(bytes));
      return bits;
    }
  }
#endif
  // Zeroed pages come cheaply from the system.
  const auto size = static_cast<size_t>(bytes);
  return static_cast<uint8_t*>(zeroed ? std::calloc(size, 1) : std::malloc(size));
}

namespace {

// A large surface is often followed by a picture of the same size read back from a file,
// whose library keeps a header of a few hundred bytes in front of the pixels. A little more
// memory than the pixels need lets that picture take the surface's memory once it is freed,
// pages already touched, instead of fresh ones (a fault each 4 KB).
int64_t HandOnSlack(int64_t bytes) { return bytes >= kLargePicture ? int64_t{64} << 10 : 0; }

uint8_t RopIndex(uint32_t rop) { return static_cast<uint8_t>((rop >> 16) & 0xFF); }

// Source pixels of one row converted to the destination's pixel size.
void ConvertRow(const uint8_t* src, int32_t srcBytes, uint8_t* out, int32_t outBytes,
                int32_t pixels) {
  if (srcBytes == outBytes) {
    std::memcpy(out, src, static_cast<size_t>(pixels) * outBytes);
    return;
  }
  for (int32_t x = 0; x < pixels; ++x) {
    out[0] = src[0];
    out[1] = src[1];
    out[2] = src[2];
    if (outBytes == 4) out[3] = 0;
    src += srcBytes;
    out += outBytes;
  }
}

}  // namespace

bool RopUsesSource(uint32_t rop) {
  uint8_t index = RopIndex(rop);
  // The table depends on S when swapping S (bit 1 of the position) changes some result.
  for (int k = 0; k < 8; ++k) {
    if (((index >> k) & 1) != ((index >> (k ^ 2)) & 1)) return true;
  }
  return false;
}

int64_t Bitmap::StrideFor(int64_t width, int32_t bitsPerPixel) {
  return (width * (bitsPerPixel / 8) + 3) & ~int64_t{3};
}

Bitmap::Bitmap(int32_t width, int32_t height, int32_t bitsPerPixel, int32_t stride, uint8_t* bits)
    : width_(width), height_(height), bitsPerPixel_(bitsPerPixel), stride_(stride), bits_(bits) {}

std::unique_ptr<Bitmap> Bitmap::Create(int32_t width, int32_t height, int32_t bitsPerPixel) {
  if (width <= 0 || height <= 0) return nullptr;
  if (bitsPerPixel != 24 && bitsPerPixel != 32) return nullptr;
  int64_t stride = StrideFor(width, bitsPerPixel);
  int64_t bytes = stride * height;
  if (stride > INT32_MAX || bytes > INT32_MAX) return nullptr;
  uint8_t* bits = AllocatePixels(bytes + HandOnSlack(bytes), /*zeroed=*/true);
  if (!bits) return nullptr;
  auto* bitmap = new (std::nothrow)
      Bitmap(width, height, bitsPerPixel, static_cast<int32_t>(stride), bits);
  if (!bitmap) {
    std::free(bits);
    return nullptr;
  }
  return std::unique_ptr<Bitmap>(bitmap);
}

BitmapDescription DescribeBitmap(const Bitmap& bitmap) {
  BitmapDescription d;
  d.width = bitmap.width();
  d.height = bitmap.height();
  d.widthBytes = bitmap.stride();
  d.planes = 1;
  d.bitsPerPixel = bitmap.bitsPerPixel();
  d.bits = const_cast<uint8_t*>(bitmap.bits());
  return d;
}

Bitmap* DeviceContext::SelectObject(Bitmap* bitmap) {
  Bitmap* previous = bitmap_;
  bitmap_ = bitmap;
  return previous;
}

void DeviceContext::Changed(int32_t, int32_t, int32_t, int32_t) {}

std::unique_ptr<DeviceContext> CreateCompatibleDC(const DeviceContext* reference) {
  int32_t format = reference ? reference->format() : DeviceContext::kScreenBitsPerPixel;
  return std::unique_ptr<DeviceContext>(new (std::nothrow) DeviceContext(format));
}

std::unique_ptr<Bitmap> CreateCompatibleBitmap(const DeviceContext* reference, int32_t width,
                                               int32_t height) {
  int32_t format = DeviceContext::kScreenBitsPerPixel;
  if (reference) {
    format = reference->selectedBitmap() ? reference->selectedBitmap()->bitsPerPixel()
                                         : reference->format();
  }
  return Bitmap::Create(width, height, format);
}

std::unique_ptr<Bitmap> CreateDIBSection(const DeviceContext*, int32_t width, int32_t height,
                                         int32_t bitsPerPixel) {
  return Bitmap::Create(width, height, bitsPerPixel);
}

bool BitBlt(DeviceContext* dest, int32_t destLeft, int32_t destTop, int32_t width, int32_t height,
            const DeviceContext* src, int32_t srcLeft, int32_t srcTop, uint32_t rop) {
  if (!dest || !dest->selectedBitmap()) return false;
  Bitmap& d = *dest->selectedBitmap();
  const bool usesSource = RopUsesSource(rop);
  const Bitmap* s = nullptr;
  if (usesSource) {
    if (!src || !src->selectedBitmap()) return false;
    s = src->selectedBitmap();
  }
  if (width <= 0 || height <= 0) return true;

  // Clip in 64 bits so no edge arithmetic can wrap.
  int64_t dx = destLeft, dy = destTop, sx = srcLeft, sy = srcTop, w = width, h = height;
  auto clip = [&](int64_t& a, int64_t& b, int64_t& extent, int64_t limitA, int64_t limitB,
                  bool withB) {
    if (a < 0) { b -= a; extent += a; a = 0; }
    if (withB && b < 0) { a -= b; extent += b; b = 0; }
    extent = std::min(extent, limitA - a);
    if (withB) extent = std::min(extent, limitB - b);
  };
  clip(dx, sx, w, d.width(), s ? s->width() : 0, usesSource);
  clip(dy, sy, h, d.height(), s ? s->height() : 0, usesSource);
  if (w <= 0 || h <= 0) return true;

  const int32_t dBytes = d.bytesPerPixel();
  const int32_t cols = static_cast<int32_t>(w), rows = static_cast<int32_t>(h);
  const auto destX = static_cast<int32_t>(dx), destY = static_cast<int32_t>(dy);
  const auto srcX = static_cast<int32_t>(sx), srcY = static_cast<int32_t>(sy);

  if (rop == Rop::kSrcCopy && s->bitsPerPixel() == d.bitsPerPixel()) {
    // The plain copy: whole rows, in the order they lie in memory (bottom row first), which
    // the processor's prefetching follows best. Within one bitmap, the rows go in the order
    // that reads every source row before it is overwritten.
    const size_t rowBytes = static_cast<size_t>(cols) * dBytes;
    const bool bottomFirst = (s != &d) || destY > srcY;
    for (int32_t k = 0; k < rows; ++k) {
      int32_t r = bottomFirst ? rows - 1 - k : k;
      std::memmove(d.TopDownRow(destY + r) + static_cast<size_t>(destX) * dBytes,
                   s->TopDownRow(srcY + r) + static_cast<size_t>(srcX) * dBytes, rowBytes);
    }
    dest->Changed(destX, destY, cols, rows);
    return true;
  }

  // General path. The source rows are converted to the destination's pixel size one at a time;
  // within one bitmap the whole source region is taken first, so the transfer reads the pixels
  // as they were.
  const size_t rowBytes = static_cast<size_t>(cols) * dBytes;
  const bool snapshot = usesSource && s == &d;
  std::vector<uint8_t> source;
  if (usesSource) source.resize(snapshot ? rowBytes * rows : rowBytes);
  auto convert = [&](int32_t r, uint8_t* to) {
    ConvertRow(s->TopDownRow(srcY + r) + static_cast<size_t>(srcX) * s->bytesPerPixel(),
               s->bytesPerPixel(), to, dBytes, cols);
  };
  if (snapshot) {
    for (int32_t r = 0; r < rows; ++r) convert(r, source.data() + rowBytes * r);
  }
  // With the brush fixed, each bit of the result depends on S and D alone: four masks, one per
  // (S, D) combination, say which bits come out set. The brush repeats every pixel, so the masks
  // repeat every 24 bytes (24-bit) or 8 bytes (32-bit) and the work goes a 64-bit word at a time.
  const ColorRef brush = dest->brushColor();
  const uint8_t pattern[4] = {static_cast<uint8_t>(brush >> 16), static_cast<uint8_t>(brush >> 8),
                              static_cast<uint8_t>(brush), 0};
  const uint8_t index = RopIndex(rop);
  uint8_t laneMask[4][4];  // [S << 1 | D][byte of the pixel]
  for (int sd = 0; sd < 4; ++sd) {
    const uint8_t whenSet = ((index >> (4 | sd)) & 1) ? 0xFF : 0x00;
    const uint8_t whenClear = ((index >> sd) & 1) ? 0xFF : 0x00;
    for (int lane = 0; lane < dBytes; ++lane) {
      laneMask[sd][lane] = static_cast<uint8_t>((pattern[lane] & whenSet) | (~pattern[lane] & whenClear));
    }
  }
  const int periodWords = dBytes == 3 ? 3 : 1;
  uint64_t wordMask[4][3] = {};
  for (int sd = 0; sd < 4; ++sd) {
    for (int w = 0; w < periodWords; ++w) {
      for (int i = 0; i < 8; ++i) {
        wordMask[sd][w] |= static_cast<uint64_t>(laneMask[sd][(w * 8 + i) % dBytes]) << (8 * i);
      }
    }
  }
  for (int32_t r = 0; r < rows; ++r) {
    uint8_t* out = d.TopDownRow(destY + r) + static_cast<size_t>(destX) * dBytes;
    const uint8_t* in = nullptr;
    if (snapshot) {
      in = source.data() + rowBytes * r;
    } else if (usesSource) {
      convert(r, source.data());
      in = source.data();
    }
    size_t b = 0;
    for (int w = 0; b + 8 <= rowBytes; b += 8, w = (w + 1 == periodWords) ? 0 : w + 1) {
      uint64_t S = 0, D;
      if (in) std::memcpy(&S, in + b, 8);
      std::memcpy(&D, out + b, 8);
      const uint64_t R = (wordMask[3][w] & S & D) | (wordMask[2][w] & S & ~D) |
                         (wordMask[1][w] & ~S & D) | (wordMask[0][w] & ~S & ~D);
      std::memcpy(out + b, &R, 8);
    }
    for (; b < rowBytes; ++b) {
      const int lane = static_cast<int>(b % dBytes);
      const uint8_t S = in ? in[b] : 0, D = out[b];
      out[b] = static_cast<uint8_t>((laneMask[3][lane] & S & D) | (laneMask[2][lane] & S & ~D) |
                                    (laneMask[1][lane] & ~S & D) | (laneMask[0][lane] & ~S & ~D));
    }
  }
  dest->Changed(destX, destY, cols, rows);
  return true;
}

}  // namespace torvo::gdi
