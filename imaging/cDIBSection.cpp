#include "imaging/cDIBSection.h"

#include "platform/arithmetic.h"

namespace torvo {

cDIBSection::~cDIBSection() { ClearUp(); }

int32_t cDIBSection::BytesPerScanLine() const {
  return CheckedAdd(CheckedMul(3, tHeader.biWidth), 3) & ~3;
}

bool cDIBSection::CreateDIB(const gdi::DeviceContext* lHDC, int32_t lWidth, int32_t lHeight,
                            std::unique_ptr<gdi::Bitmap>& hDib) {
  // The header takes the requested size before anything can fail, so Width and Height report
  // it even when the creation does not succeed.
  tHeader.biSize = 40;
  tHeader.biWidth = lWidth;
  tHeader.biHeight = lHeight;
  tHeader.biPlanes = 1;
  tHeader.biBitCount = 24;
  tHeader.biCompression = 0;
  tHeader.biSizeImage = static_cast<uint32_t>(CheckedMul(BytesPerScanLine(), lHeight));
  hDib = gdi::CreateDIBSection(lHDC, tHeader.biWidth, tHeader.biHeight, tHeader.biBitCount);
  lBitsPtr = hDib ? hDib->bits() : nullptr;
  return hDib != nullptr;
}

bool cDIBSection::Create(int32_t lWidth, int32_t lHeight) {
  ClearUp();
  hMemDC = gdi::CreateCompatibleDC(nullptr);
  if (!hMemDC) return false;
  bool created = false;
  try {
    created = CreateDIB(hMemDC.get(), lWidth, lHeight, hDibBitmap);
  } catch (...) {
    // An overflowing size is raised to the caller, but the surface is left Empty and whole.
    hMemDC.reset();
    throw;
  }
  if (created) {
    hSavedBitmap = hMemDC->SelectObject(hDibBitmap.get());
    return true;
  }
  hMemDC.reset();
  return false;
}

void cDIBSection::CreateFromPicture(gdi::Picture& picThis) {
  gdi::Bitmap* handle = picThis.Handle();
  if (!handle) return;
  gdi::BitmapDescription description = gdi::DescribeBitmap(*handle);
  if (!Create(description.width, description.height)) return;
  auto pictureDc = gdi::CreateCompatibleDC(nullptr);
  if (!pictureDc) return;
  gdi::Bitmap* previous = pictureDc->SelectObject(handle);
  LoadPictureBlt(pictureDc.get(), 0, 0, -1, -1, gdi::Rop::kSrcCopy);
  pictureDc->SelectObject(previous);
}

void cDIBSection::LoadPictureBlt(const gdi::DeviceContext* lHDC, int32_t lSrcLeft,
                                 int32_t lSrcTop, int32_t lSrcWidth, int32_t lSrcHeight,
                                 uint32_t eRop) {
  if (lSrcWidth < 0) lSrcWidth = Width();
  if (lSrcHeight < 0) lSrcHeight = Height();
  gdi::BitBlt(hMemDC.get(), 0, 0, lSrcWidth, lSrcHeight, lHDC, lSrcLeft, lSrcTop, eRop);
}

void cDIBSection::PaintPicture(gdi::DeviceContext* lHDC, int32_t lDestLeft, int32_t lDestTop,
                               int32_t lDestWidth, int32_t lDestHeight, int32_t lSrcLeft,
                               int32_t lSrcTop, uint32_t eRop) {
  if (lDestWidth < 0) lDestWidth = Width();
  if (lDestHeight < 0) lDestHeight = Height();
  gdi::BitBlt(lHDC, lDestLeft, lDestTop, lDestWidth, lDestHeight, hMemDC.get(), lSrcLeft, lSrcTop,
              eRop);
}

void cDIBSection::ClearUp() {
  if (hMemDC) {
    if (hDibBitmap) {
      hMemDC->SelectObject(hSavedBitmap);
      hDibBitmap.reset();
    }
    hMemDC.reset();
  }
  hDibBitmap.reset();
  hSavedBitmap = nullptr;
  lBitsPtr = nullptr;
}

}  // namespace torvo
