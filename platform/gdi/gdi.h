#pragma once
// Our small drawing layer, standing where the platform's GDI stood: bitmaps with bottom-up rows,
// memory drawing contexts that hold a selected bitmap and a brush, picture objects that own a
// bitmap, and block transfers with any ternary raster operation. No windowing system here: the
// desktop layer wraps captured screens and canvases as bitmaps and contexts of this kind.
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace torvo::gdi {

// Ternary raster-operation codes: the index byte (bits 16..23) is the truth table, bit number
// (P << 2 | S << 1 | D) giving the result for brush bit P, source bit S and destination bit D.
// Scoped, and not in capitals: <windows.h> defines the capital names as macros.
namespace Rop {
inline constexpr uint32_t kSrcCopy = 0x00CC0020;
inline constexpr uint32_t kSrcPaint = 0x00EE0086;
inline constexpr uint32_t kSrcAnd = 0x008800C6;
inline constexpr uint32_t kSrcInvert = 0x00660046;
inline constexpr uint32_t kSrcErase = 0x00440328;
inline constexpr uint32_t kNotSrcCopy = 0x00330008;
inline constexpr uint32_t kNotSrcErase = 0x001100A6;
inline constexpr uint32_t kMergeCopy = 0x00C000CA;
inline constexpr uint32_t kMergePaint = 0x00BB0226;
inline constexpr uint32_t kPatCopy = 0x00F00021;
inline constexpr uint32_t kPatPaint = 0x00FB0A09;
inline constexpr uint32_t kPatInvert = 0x005A0049;
inline constexpr uint32_t kDstInvert = 0x00550009;
inline constexpr uint32_t kBlackness = 0x00000042;
inline constexpr uint32_t kWhiteness = 0x00FF0062;
}  // namespace Rop

// Whether a raster operation reads the source at all (its truth table depends on S).
bool RopUsesSource(uint32_t rop);

// Memory for a picture's pixels or its work, freed with std::free; null when it cannot be had,
// zeroed when asked. Large memory (4 MB or more; Linux) starts on a 2 MB boundary and takes whole
// 2 MB pages where the system offers them: its first writes then take one fault per 2 MB instead
// of one per 4 KB, which for a picture cost more than the work on it (a 1920 x 1080 capture: 0.6
// ms against 6 ms on a virtual machine). Without such pages, ordinary ones come.
uint8_t* AllocatePixels(int64_t bytes, bool zeroed);
struct FreePixels {
  void operator()(uint8_t* bits) const { std::free(bits); }
};

// A colour as the platform packs it: red in the low byte, then green, then blue.
using ColorRef = uint32_t;
constexpr ColorRef Rgb(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<ColorRef>(red) | (static_cast<ColorRef>(green) << 8) |
         (static_cast<ColorRef>(blue) << 16);
}

// Pixels of 24 bits (blue, green, red) or 32 bits (blue, green, red, unused). Rows are stored
// bottom-up: row 0 is the bottom of the picture; every row starts on a 4-byte boundary.
class Bitmap {
 public:
  // A new bitmap with every byte 0, or null when the size is not positive, the format is not 24
  // or 32 bits, the byte count leaves 31 bits, or the memory cannot be had. Never throws.
  static std::unique_ptr<Bitmap> Create(int32_t width, int32_t height, int32_t bitsPerPixel);

  // Bytes from one row to the next: width x bytes per pixel rounded up to a multiple of 4.
  static int64_t StrideFor(int64_t width, int32_t bitsPerPixel);

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  int32_t bitsPerPixel() const { return bitsPerPixel_; }
  int32_t bytesPerPixel() const { return bitsPerPixel_ / 8; }
  int32_t stride() const { return stride_; }
  uint8_t* bits() { return bits_.get(); }
  const uint8_t* bits() const { return bits_.get(); }
  // Stored row r (0 = bottom row).
  uint8_t* ScanLine(int32_t r) { return bits_.get() + static_cast<int64_t>(r) * stride_; }
  const uint8_t* ScanLine(int32_t r) const { return bits_.get() + static_cast<int64_t>(r) * stride_; }
  // Row y counted from the top, as drawing coordinates count.
  uint8_t* TopDownRow(int32_t y) { return ScanLine(height_ - 1 - y); }
  const uint8_t* TopDownRow(int32_t y) const { return ScanLine(height_ - 1 - y); }

  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

 private:
  struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  Bitmap(int32_t width, int32_t height, int32_t bitsPerPixel, int32_t stride, uint8_t* bits);

  int32_t width_;
  int32_t height_;
  int32_t bitsPerPixel_;
  int32_t stride_;
  std::unique_ptr<uint8_t, FreeDeleter> bits_;
};

// The description a picture's bitmap gives of itself (the platform's BITMAP record, which its
// GetObject fills; that name is a macro of <windows.h>).
struct BitmapDescription {
  int32_t type = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t widthBytes = 0;
  int32_t planes = 1;
  int32_t bitsPerPixel = 0;
  uint8_t* bits = nullptr;
};
BitmapDescription DescribeBitmap(const Bitmap& bitmap);

// A drawing context. A memory context draws into the bitmap selected into it; a context of a
// window or canvas (desktop layer) selects the canvas's own bitmap and repaints on Changed().
// Coordinates count from the top-left corner, like the platform's.
class DeviceContext {
 public:
  // format: bits per pixel of bitmaps made compatible with this context.
  explicit DeviceContext(int32_t format = kScreenBitsPerPixel) : format_(format) {}
  virtual ~DeviceContext() = default;
  DeviceContext(const DeviceContext&) = delete;
  DeviceContext& operator=(const DeviceContext&) = delete;

  // Selects a bitmap (not owned) and returns the one it displaces (null for a fresh context).
  Bitmap* SelectObject(Bitmap* bitmap);
  Bitmap* selectedBitmap() const { return bitmap_; }

  // The brush of pattern raster operations: a solid colour, white unless set.
  void SetBrushColor(ColorRef color) { brush_ = color; }
  ColorRef brushColor() const { return brush_; }

  int32_t format() const { return format_; }

  // Called after a block transfer wrote into the selected bitmap; a window's context repaints.
  virtual void Changed(int32_t left, int32_t top, int32_t width, int32_t height);

  // Bitmaps compatible with the screen: 32 bits per pixel, as an X11 true-colour visual.
  static constexpr int32_t kScreenBitsPerPixel = 32;

 private:
  int32_t format_;
  Bitmap* bitmap_ = nullptr;
  ColorRef brush_ = Rgb(255, 255, 255);
};

// A memory context compatible with the given one (or with the screen when null); no bitmap yet.
// Null only when memory is short.
std::unique_ptr<DeviceContext> CreateCompatibleDC(const DeviceContext* reference);

// A bitmap in the format of the context (32 bits for the screen), cleared to black.
std::unique_ptr<Bitmap> CreateCompatibleBitmap(const DeviceContext* reference, int32_t width,
                                               int32_t height);

// A 24-bit bottom-up bitmap from a bitmap information header (width, height > 0, 24 bits).
std::unique_ptr<Bitmap> CreateDIBSection(const DeviceContext* reference, int32_t width,
                                         int32_t height, int32_t bitsPerPixel);

// Transfers width x height pixels from src at (srcLeft, srcTop) to dest at (destLeft, destTop)
// under the raster operation rop, clipped to both bitmaps. Converts between 24 and 32 bits (the
// fourth byte of a 32-bit pixel is 0 when it comes from a 24-bit one). src may be null when the
// operation does not read it. Returns false when nothing could be drawn because a context or a
// bitmap is missing; a transfer clipped to nothing succeeds. The plain source copy of equal
// formats copies rows as they are.
bool BitBlt(DeviceContext* dest, int32_t destLeft, int32_t destTop, int32_t width, int32_t height,
            const DeviceContext* src, int32_t srcLeft, int32_t srcTop, uint32_t rop);

// A picture object that owns its bitmap (a loaded file, a captured window, a canvas).
class Picture {
 public:
  Picture() = default;
  explicit Picture(std::unique_ptr<Bitmap> bitmap) : bitmap_(std::move(bitmap)) {}
  // The picture's handle: its bitmap, or null for an empty picture.
  Bitmap* Handle() const { return bitmap_.get(); }
  std::unique_ptr<Bitmap> Release() { return std::move(bitmap_); }

 private:
  std::unique_ptr<Bitmap> bitmap_;
};

}  // namespace torvo::gdi
