#pragma once
// The Win32 window basics both programs' windows are made of: a top-level window with its own
// procedure, child controls in the UI font, a message loop that keeps the tab order, tooltips,
// and a way for a worker thread to have a function run on the window's thread.
#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/window_thread.h"

namespace torvo::win32 {

// Layouts are drawn in twips: 15 twips a pixel at 96 dpi, half a pixel rounded up.
int Px(int twips);

// A control's place in its parent's client area, in pixels.
struct Bounds {
  int left = 0, top = 0, width = 0, height = 0;
};
// The same place drawn in twips.
Bounds FromTwips(int left, int top, int width, int height);

std::wstring Wide(std::u16string_view text);
std::u16string Narrow(std::wstring_view text);

// The windows' font: "NanumGothic" 9 pt, made once for the whole program.
HFONT UiFont();

// A top-level window whose messages go to Handle. The class is registered on first use.
class Window {
 public:
  Window() = default;
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND hwnd() const { return hwnd_; }

  // Shows the window on top without taking the focus. A window manager gives a new window the
  // focus unless it says it takes none: it says so while it is mapped (its first half second),
  // and takes the focus as any window once the user clicks it.
  void ShowWithoutFocus();

 protected:
  // Creates the window, hidden, with a client area of the given size; false when it failed.
  bool Create(const wchar_t* className, std::u16string_view caption, int clientWidth, int clientHeight,
              DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, DWORD exStyle = 0);
  // Every message of the window; the default is the system's handling.
  virtual LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  HWND hwnd_ = nullptr;
};

// Child controls, in the UI font, in the tab order they are made in. id is the WM_COMMAND id.
HWND MakeButton(HWND parent, int id, std::u16string_view text, Bounds at, bool isDefault = false);
HWND MakeLabel(HWND parent, int id, std::u16string_view text, Bounds at, DWORD extraStyle = 0);
HWND MakeEdit(HWND parent, int id, std::u16string_view text, Bounds at);
HWND MakeMultiLineEdit(HWND parent, int id, std::u16string_view text, Bounds at);
HWND MakeCheckBox(HWND parent, int id, std::u16string_view text, Bounds at);
HWND MakeDropDownList(HWND parent, int id, Bounds at, int listHeight);
HWND MakeProgressBar(HWND parent, int id, Bounds at);

void SetText(HWND control, std::u16string_view text);
std::u16string GetText(HWND control);
void SetProgress(HWND progressBar, int value, int maximum);

// Shows text when the mouse rests on the control, several lines if it holds line breaks; an
// empty text takes the tooltip away. The tooltip window belongs to the control's top-level window.
void SetToolTip(HWND control, std::u16string_view text);
// The tooltip's text, "" when there is none (for tests).
std::u16string ToolTipOf(HWND control);

// Runs the thread's messages until WM_QUIT, Tab and Enter going through the window as in a
// dialog. Returns WM_QUIT's exit code.
int RunMessageLoop(HWND window);

// Runs posted functions on the thread that owns the window, in order. It hooks itself into the
// window's messages; once the window is destroyed, Post drops the function and says so, and
// functions still queued are destroyed unrun. Make it on the window's thread; posting is safe
// from any thread for as long as the poster holds it.
class WindowMailbox final : public WindowThread, public std::enable_shared_from_this<WindowMailbox> {
 public:
  static std::shared_ptr<WindowMailbox> For(HWND window);
  ~WindowMailbox() override;

  bool Post(std::function<void()> function) override;
  bool Open() const;

 private:
  explicit WindowMailbox(HWND window) : window_(window) {}
  static LRESULT CALLBACK Hook(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data);
  void Deliver();
  void Close();

  mutable std::mutex mutex_;
  HWND window_;
  std::deque<std::function<void()>> queue_;
  bool wakePending_ = false;
  // Keeps the mailbox alive while the window's hook may still reach it.
  std::shared_ptr<WindowMailbox> self_;
};

}  // namespace torvo::win32
