#include "upload/app/WaylandCapture.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/desktop/portal_screenshot.h"
#include "platform/desktop/x11_capture_provider.h"
#include "platform/error.h"
#include "upload/picture_file.h"

namespace torvo::upload {

namespace {

using Outcome = desktop::PortalScreenshot::Outcome;

// The largest side a screen of the portal may have: the capture's sides are 16-bit further on.
constexpr int32_t kMaxScreenSide = 32767;

[[noreturn]] void CannotCapture(const std::string& why) {
  throw TorvoError(kErrFileNotFound, ProgramName(), why);
}

}  // namespace

bool IsWaylandSession() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  return display && *display;
}

std::unique_ptr<gdi::Bitmap> WaylandCaptureProvider::CaptureFront() {
  const desktop::PortalScreenshot shot = desktop::TakePortalScreenshot(portalTimeout_);
  switch (shot.outcome) {
    case Outcome::kTaken: {
      std::ifstream in(shot.file, std::ios::binary);
      std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::unique_ptr<gdi::Bitmap> bitmap = in ? DecodePng(png, kMaxScreenSide) : nullptr;
      if (!bitmap) CannotCapture("화면 캡처 포털이 준 그림을 읽을 수 없습니다: " + shot.file.string());
      return bitmap;
    }
    case Outcome::kRefused:
      CannotCapture("화면 캡처가 거부되어 썸네일을 만들 수 없습니다. 브라우저의 Torvo 단추로 다시 시도하세요.");
    case Outcome::kFailed:
      CannotCapture("화면 캡처 포털이 그림을 주지 않았습니다 (" + shot.detail + ").");
    case Outcome::kNoPortal:
      break;
  }
  // No portal: the X11 screen, but only with an X11 window in front, as a native Wayland window
  // in front leaves no active window there.
  desktop::X11CaptureProvider screen;
  std::unique_ptr<gdi::Bitmap> bitmap;
  try {
    bitmap = screen.CaptureFront();
  } catch (const TorvoError&) {
    bitmap.reset();
  }
  if (!bitmap || screen.lastSource() != desktop::CaptureSource::kActiveWindow) {
    CannotCapture(
        "이 Wayland 데스크톱에서는 앞에 있는 창을 캡처할 수 없습니다: 화면 캡처 포털이 없고 앞에 있는 창이 X11 창이 "
        "아닙니다. 브라우저의 Torvo 단추로 실행하면 브라우저가 페이지 그림을 넘겨 줍니다.");
  }
  return bitmap;
}

}  // namespace torvo::upload
