// The Win32 desktop services against a real display (Xvfb under Wine): the picture in front is
// the foreground window's client area, pixel for pixel, and a second copy is refused.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/error.h"

#include "platform/win32/desktop_services.h"
#include "platform/win32/gdi_capture_provider.h"
#include "platform/win32/single_instance.h"
#include "platform/win32/topmost.h"

namespace torvo::win32 {
namespace {

constexpr COLORREF kFill = RGB(10, 200, 30);

void Pump(int ms) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  while (GetTickCount() < end) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
}

// A window whose client area is one colour, brought to the front.
HWND FrontWindow(DWORD style, int clientWidth, int clientHeight) {
  static HBRUSH brush = CreateSolidBrush(kFill);
  static ATOM cls = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = brush;
    wc.lpszClassName = L"TorvoCaptureTest";
    return RegisterClassW(&wc);
  }();
  RECT r{0, 0, clientWidth, clientHeight};
  AdjustWindowRect(&r, style, FALSE);
  HWND w = CreateWindowExW(0, MAKEINTATOM(cls), L"페이지", style | WS_VISIBLE, 60, 50, r.right - r.left,
                           r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  SetForegroundWindow(w);
  UpdateWindow(w);
  Pump(300);
  return w;
}

// Wine draws on the X display it was started with; without one there is nothing to capture.
bool HasDisplay() { return GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) > 0; }

TEST(GdiCaptureProvider, TheForegroundWindowsClientAreaPixelForPixel) {
  if (!HasDisplay()) GTEST_SKIP() << "needs a display (scripts/test-windows.sh gives the run one)";
  struct Case {
    const char* what;
    DWORD style;
    int width, height;
  };
  const Case cases[] = {
      {"frameless", WS_POPUP, 120, 80},
      {"framed: the frame and caption are left out", WS_OVERLAPPEDWINDOW, 151, 97},
  };
  for (const Case& c : cases) {
    HWND w = FrontWindow(c.style, c.width, c.height);
    ASSERT_NE(w, nullptr) << c.what;
    ASSERT_EQ(GetForegroundWindow(), w) << c.what;
    GdiCaptureProvider provider;
    std::unique_ptr<gdi::Bitmap> picture = provider.CaptureFront();
    ASSERT_TRUE(picture) << c.what;
    EXPECT_EQ(picture->width(), c.width) << c.what;
    EXPECT_EQ(picture->height(), c.height) << c.what;
    EXPECT_EQ(picture->bitsPerPixel(), 24) << c.what;
    int wrong = 0;
    for (int32_t y = 0; y < picture->height(); ++y) {
      const uint8_t* row = picture->TopDownRow(y);
      for (int32_t x = 0; x < picture->width(); ++x) {
        wrong += row[3 * x] != GetBValue(kFill) || row[3 * x + 1] != GetGValue(kFill) || row[3 * x + 2] != GetRValue(kFill);
      }
    }
    EXPECT_EQ(wrong, 0) << c.what;
    DestroyWindow(w);
    Pump(100);
  }
}

TEST(GdiCaptureProvider, NoWindowInFrontGivesTheWholeScreen) {
  if (!HasDisplay()) GTEST_SKIP() << "needs a display (scripts/test-windows.sh gives the run one)";
  HWND w = FrontWindow(WS_POPUP, 50, 50);
  ShowWindow(w, SW_MINIMIZE);
  Pump(200);
  GdiCaptureProvider provider;
  std::unique_ptr<gdi::Bitmap> picture = provider.CaptureFront();
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->width(), GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(picture->height(), GetSystemMetrics(SM_CYSCREEN));
  DestroyWindow(w);
}

TEST(KeepOnTopWithoutFocus, AboveThePageAndThePageKeepsTheFocus) {
  if (!HasDisplay()) GTEST_SKIP() << "needs a display (scripts/test-windows.sh gives the run one)";
  HWND page = FrontWindow(WS_OVERLAPPEDWINDOW, 300, 200);
  ASSERT_EQ(GetForegroundWindow(), page);
  HWND tool = CreateWindowExW(0, L"TorvoCaptureTest", L"TorvoTool", WS_OVERLAPPEDWINDOW, 100, 80, 200, 150, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(tool, nullptr);
  KeepOnTopWithoutFocus(tool);
  Pump(300);
  EXPECT_TRUE(IsWindowVisible(tool));
  EXPECT_TRUE(GetWindowLongW(tool, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_EQ(GetForegroundWindow(), page) << "the page keeps the focus";
  // Clicking the page later brings it forward, but not above the tool.
  SetForegroundWindow(page);
  SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  Pump(200);
  POINT inBoth{150, 120};
  EXPECT_EQ(GetAncestor(WindowFromPoint(inBoth), GA_ROOT), tool);
  DestroyWindow(tool);
  DestroyWindow(page);
  Pump(100);
}

TEST(SingleInstance, ASecondCopyIsRefusedUntilTheFirstEnds) {
  auto first = std::make_unique<SingleInstance>("TorvoTool-test");
  EXPECT_TRUE(first->Acquire());
  EXPECT_TRUE(first->Acquire());  // asking again is no second copy
  SingleInstance second("TorvoTool-test");
  EXPECT_FALSE(second.Acquire());
  SingleInstance other("TorvoSync-test");
  EXPECT_TRUE(other.Acquire());  // each program has its own
  first.reset();
  EXPECT_TRUE(second.Acquire());
}

TEST(Win32DesktopServices, TheClipboardGetsA24BitDeviceIndependentBitmap) {
  if (!HasDisplay()) GTEST_SKIP() << "needs a display (scripts/test-windows.sh gives the run one)";
  for (int32_t bits : {24, 32}) {
    auto bitmap = gdi::Bitmap::Create(3, 2, bits);
    for (int32_t r = 0; r < 2; ++r)
      for (int32_t x = 0; x < 3; ++x)
        for (int c = 0; c < 3; ++c) bitmap->ScanLine(r)[x * bitmap->bytesPerPixel() + c] = static_cast<uint8_t>(40 * r + 10 * x + c);
    Win32DesktopServices services;
    ASSERT_NE(services.ScreenContext(), nullptr);
    ASSERT_TRUE(services.PutBitmapOnClipboard(*bitmap)) << bits;
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE data = GetClipboardData(CF_DIB);
    ASSERT_NE(data, nullptr) << bits;
    const auto* dib = static_cast<const uint8_t*>(GlobalLock(data));
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib, sizeof header);
    EXPECT_EQ(header.biWidth, 3);
    EXPECT_EQ(header.biHeight, 2);
    EXPECT_EQ(header.biBitCount, 24);
    for (int32_t r = 0; r < 2; ++r)
      for (int32_t x = 0; x < 3; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(dib[header.biSize + r * 12 + x * 3 + c], 40 * r + 10 * x + c) << bits;
    GlobalUnlock(data);
    CloseClipboard();
  }
}

TEST(Win32DesktopServices, AMessageBoxWithTheProgramsNameAndAnOkButton) {
  if (!HasDisplay()) GTEST_SKIP() << "needs a display (scripts/test-windows.sh gives the run one)";
  SetProgramName("TorvoTool");
  std::wstring shown;
  std::atomic<bool> pressed{false};
  // A person reads the box and presses OK.
  std::thread person([&] {
    for (int i = 0; i < 500 && !pressed; ++i) {
      if (HWND box = FindWindowW(L"#32770", L"TorvoTool")) {
        wchar_t text[256] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 256);
        shown = text;
        SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        pressed = true;
      }
      Sleep(20);
    }
  });
  Win32DesktopServices().ShowMessage(u"업로드할 수 없는 페이지입니다.");
  person.join();
  EXPECT_TRUE(pressed);
  EXPECT_EQ(shown, L"업로드할 수 없는 페이지입니다.");
}

}  // namespace
}  // namespace torvo::win32
