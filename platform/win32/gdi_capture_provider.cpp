#include "platform/win32/gdi_capture_provider.h"

#include <windows.h>

#include <cstring>

#include "platform/error.h"

namespace torvo::win32 {

namespace {

struct Area {
  HWND window = nullptr;  // null: the whole screen
  RECT rect{};            // in the window's client coordinates (or the screen's)
};

Area AreaInFront() {
  Area area;
  HWND front = GetForegroundWindow();
  if (front && IsWindowVisible(front) && !IsIconic(front) && GetClientRect(front, &area.rect) &&
      area.rect.right > area.rect.left && area.rect.bottom > area.rect.top) {
    area.window = front;
    return area;
  }
  area.rect = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  return area;
}

[[noreturn]] void NoPicture() {
  throw TorvoError(kErrFileNotFound, ProgramName(), "화면을 읽을 수 없습니다.");
}

}  // namespace

std::unique_ptr<gdi::Bitmap> GdiCaptureProvider::CaptureFront() {
  const Area area = AreaInFront();
  const int width = area.rect.right - area.rect.left, height = area.rect.bottom - area.rect.top;
  if (width <= 0 || height <= 0) NoPicture();
  HDC source = GetDC(area.window);  // the client area's context, or the screen's for null
  if (!source) NoPicture();
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as our bitmaps keep their rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP section = memory ? CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
  bool copied = false;
  if (section) {
    HGDIOBJ old = SelectObject(memory, section);
    copied = BitBlt(memory, 0, 0, width, height, source, area.rect.left, area.rect.top, SRCCOPY);
    GdiFlush();
    SelectObject(memory, old);
  }
  std::unique_ptr<gdi::Bitmap> picture = copied ? gdi::Bitmap::Create(width, height, 24) : nullptr;
  if (picture) {
    // Both are 24-bit, bottom-up, with rows padded to four bytes.
    const int64_t stride = gdi::Bitmap::StrideFor(width, 24);
    for (int32_t r = 0; r < height; ++r)
      std::memcpy(picture->ScanLine(r), static_cast<const uint8_t*>(bits) + r * stride, static_cast<size_t>(width) * 3);
  }
  if (section) DeleteObject(section);
  if (memory) DeleteDC(memory);
  ReleaseDC(area.window, source);
  if (!picture) NoPicture();
  return picture;
}

}  // namespace torvo::win32
