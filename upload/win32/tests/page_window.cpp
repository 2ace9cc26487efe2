// A stand-in for the browser's page in TorvoTool's Wine tests: a window of four known colour
// blocks (400 x 300 client pixels) brought to the front. It prints the ANSI code page it runs
// with, so a test knows which one the system gave, and stays until it is closed.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

struct Block {
  RECT at;
  COLORREF colour;
};
constexpr Block kBlocks[] = {
    {{0, 0, 200, 150}, RGB(200, 30, 30)},
    {{200, 0, 400, 150}, RGB(30, 180, 60)},
    {{0, 150, 200, 300}, RGB(40, 60, 200)},
    {{200, 150, 400, 300}, RGB(230, 210, 40)},
};

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      for (const Block& b : kBlocks) {
        HBRUSH brush = CreateSolidBrush(b.colour);
        FillRect(dc, &b.at, brush);
        DeleteObject(brush);
      }
      EndPaint(window, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

// torvo_test_page.exe [WIDTHxHEIGHT]: the client area's size (default 400 x 300); the benchmarks
// put a page of a real screen's size in front.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = Procedure;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = L"TorvoTestPage";
  RegisterClassW(&wc);
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  int width = 400, height = 300;
  if (arguments && *arguments && (swscanf(arguments, L"%dx%d", &width, &height) != 2 || width <= 0 || height <= 0)) {
    width = 400;
    height = 300;
  }
  RECT r{0, 0, width, height};
  AdjustWindowRect(&r, style, FALSE);
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"page", style | WS_VISIBLE, 40, 40, r.right - r.left,
                                r.bottom - r.top, nullptr, nullptr, instance, nullptr);
  SetForegroundWindow(window);
  UpdateWindow(window);
  std::printf("acp %u\n", GetACP());
  std::fflush(stdout);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
