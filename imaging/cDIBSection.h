#pragma once
// The one in-memory image type: a 24-bit bottom-up bitmap with its own memory drawing context,
// so the same pixels can be reached by block transfers and directly in memory.
//
// Pixel layout (every image operation relies on it): Height() scan lines of BytesPerScanLine()
// bytes from DIBSectionBitsPtr(); scan line 0 is the bottom row of the picture; pixel x holds
// blue, green and red at bytes 3x, 3x + 1 and 3x + 2 of its scan line; BytesPerScanLine() is
// 3 x Width() rounded up to a multiple of 4, and the bytes after the last pixel belong to none.
#include <cstdint>
#include <memory>

#include "platform/gdi/gdi.h"

namespace torvo {

class cDIBSection {
 public:
  cDIBSection() = default;
  ~cDIBSection();  // runs ClearUp
  cDIBSection(const cDIBSection&) = delete;
  cDIBSection& operator=(const cDIBSection&) = delete;

  // Puts a copy of the surface on the clipboard as a screen-compatible bitmap (bAsDIB false).
  // With bAsDIB true it only says that it cannot, and returns false. Never raises.
  bool CopyToClipboard(bool bAsDIB = true);

  // Fills the header with the requested size, then creates the 24-bit pixel memory on lHDC and
  // hands it to hDib. False (nothing raised) when the size is not positive or the memory cannot
  // be had; raises the overflow error (6) when BytesPerScanLine x lHeight leaves 32 bits.
  bool CreateDIB(const gdi::DeviceContext* lHDC, int32_t lWidth, int32_t lHeight,
                 std::unique_ptr<gdi::Bitmap>& hDib);

  // Creates a surface of the picture's size and copies the picture into it (converted to 24
  // bits). Reports nothing: when the surface cannot be created it simply stops.
  void CreateFromPicture(gdi::Picture& picThis);

  // Releases any old surface, then creates one of lWidth x lHeight. False, with the surface
  // Empty, when it cannot be created; the old pixels are gone either way.
  bool Create(int32_t lWidth, int32_t lHeight);

  // (3 x Width + 3) with the two lowest bits cleared; raises 6 for a width above 715,827,881.
  int32_t BytesPerScanLine() const;
  // The last requested size, also after ClearUp or a failed Create.
  int32_t Width() const { return tHeader.biWidth; }
  int32_t Height() const { return tHeader.biHeight; }

  // One block transfer from lHDC at (lSrcLeft, lSrcTop) into this surface at (0, 0); negative
  // sizes stand for this surface's own width and height.
  void LoadPictureBlt(const gdi::DeviceContext* lHDC, int32_t lSrcLeft = 0, int32_t lSrcTop = 0,
                      int32_t lSrcWidth = -1, int32_t lSrcHeight = -1,
                      uint32_t eRop = gdi::Rop::kSrcCopy);
  // One block transfer from this surface at (lSrcLeft, lSrcTop) onto lHDC at (lDestLeft,
  // lDestTop); negative sizes stand for this surface's width and height. No stretching.
  void PaintPicture(gdi::DeviceContext* lHDC, int32_t lDestLeft = 0, int32_t lDestTop = 0,
                    int32_t lDestWidth = -1, int32_t lDestHeight = -1, int32_t lSrcLeft = 0,
                    int32_t lSrcTop = 0, uint32_t eRop = gdi::Rop::kSrcCopy);

  // Null in the Empty state.
  gdi::DeviceContext* hdc() const { return hMemDC.get(); }
  gdi::Bitmap* hDib() const { return hDibBitmap.get(); }
  uint8_t* DIBSectionBitsPtr() const { return lBitsPtr; }

  // Overwrites every pixel with pseudo-random values: grey (bGray) or green and red with blue 0.
  void RandomiseBits(bool bGray = false);

  // Releases the drawing context and the pixel memory; Width and Height keep their values.
  void ClearUp();

  // A resized copy by bilinear interpolation (height first), or null when the new surface cannot
  // be created. The same size gives an exact copy.
  std::unique_ptr<cDIBSection> Resample(int32_t lNewHeight, int32_t lNewWidth);

 private:
  // Fills the already created destination from this surface by bilinear interpolation.
  void ResampleInto(cDIBSection& destination);

  // The bitmap information header the surface was last asked to be.
  struct BitmapInfoHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
  };

  std::unique_ptr<gdi::Bitmap> hDibBitmap;
  gdi::Bitmap* hSavedBitmap = nullptr;
  std::unique_ptr<gdi::DeviceContext> hMemDC;
  uint8_t* lBitsPtr = nullptr;
  BitmapInfoHeader tHeader;
};

}  // namespace torvo
