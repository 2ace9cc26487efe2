#include "platform/win32/desktop_services.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/error.h"

namespace torvo::win32 {

namespace {
std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
}  // namespace

const gdi::DeviceContext* Win32DesktopServices::ScreenContext() {
  return GetSystemMetrics(SM_CXSCREEN) > 0 ? &screen_ : nullptr;
}

bool Win32DesktopServices::PutBitmapOnClipboard(const gdi::Bitmap& bitmap) {
  const int32_t step = bitmap.bytesPerPixel();
  if (step != 3 && step != 4) return false;
  const int64_t stride = gdi::Bitmap::StrideFor(bitmap.width(), 24);
  const size_t size = sizeof(BITMAPINFOHEADER) + static_cast<size_t>(stride * bitmap.height());
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (!memory) return false;
  auto* data = static_cast<uint8_t*>(GlobalLock(memory));
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = bitmap.width();
  header.biHeight = bitmap.height();  // bottom-up, as ours
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(stride * bitmap.height());
  std::memcpy(data, &header, sizeof header);
  uint8_t* pixels = data + sizeof header;
  for (int32_t r = 0; r < bitmap.height(); ++r) {
    const uint8_t* from = bitmap.ScanLine(r);
    uint8_t* to = pixels + r * stride;
    for (int32_t x = 0; x < bitmap.width(); ++x, from += step, to += 3) std::memcpy(to, from, 3);
  }
  GlobalUnlock(memory);
  // Another program may hold the clipboard for a moment.
  bool opened = false;
  for (int attempt = 0; attempt < 20 && !(opened = OpenClipboard(nullptr)); ++attempt) Sleep(25);
  if (!opened) {
    GlobalFree(memory);
    return false;
  }
  EmptyClipboard();
  const bool put = SetClipboardData(CF_DIB, memory) != nullptr;
  CloseClipboard();
  if (!put) GlobalFree(memory);  // the clipboard owns it only once it took it
  return put;
}

void Win32DesktopServices::ShowMessage(std::u16string_view text) {
  const std::wstring title = Wide(FromUtf8(ProgramName()));
  MessageBoxW(nullptr, Wide(text).c_str(), title.c_str(), MB_OK | MB_SETFOREGROUND);
}

}  // namespace torvo::win32
