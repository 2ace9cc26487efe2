#include "platform/win32/window.h"

#include <commctrl.h>

#include <utility>
#include <vector>

#include "platform/twips.h"
#include "platform/win32/topmost.h"

namespace torvo::win32 {

namespace {

constexpr wchar_t kToolTipProperty[] = L"Torvo.ToolTip";
// The timer that ends ShowWithoutFocus's no-focus half second; views number their own timers
// from 1, far below it.
constexpr UINT_PTR kShownTimer = 0x7F00;
constexpr UINT kShownMs = 500;

void StartCommonControls() {
  static const bool started = [] {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES;
    return InitCommonControlsEx(&controls) != FALSE;
  }();
  (void)started;
}

HWND MakeChild(HWND parent, const wchar_t* className, std::u16string_view text, DWORD style, int id, Bounds at) {
  StartCommonControls();
  HWND control = CreateWindowExW(0, className, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, at.left, at.top,
                                 at.width, at.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  if (control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
  return control;
}

// Sized as the tooltip control of the common controls before version 6 expects, so the call
// works whichever version the program gets.
TTTOOLINFOW ToolFor(HWND control) {
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = GetParent(control);
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  return tool;
}

UINT MailboxMessage() {
  static const UINT message = RegisterWindowMessageW(L"Torvo.WindowMailbox");
  return message;
}

}  // namespace

int Px(int twips) { return TwipsToPixels(twips); }

Bounds FromTwips(int left, int top, int width, int height) { return {Px(left), Px(top), Px(width), Px(height)}; }

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::u16string Narrow(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

HFONT UiFont() {
  static const HFONT font = [] {
    HDC screen = GetDC(nullptr);
    const int height = -MulDiv(9, screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96, 72);
    if (screen) ReleaseDC(nullptr, screen);
    HFONT made = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"NanumGothic");
    return made ? made : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  }();
  return font;
}

// ---- Window

Window::~Window() {
  if (hwnd_) {
    // The rest of the window's messages go to the system: this object is half gone.
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    HWND hwnd = std::exchange(hwnd_, nullptr);
    RemovePropW(hwnd, kToolTipProperty);
    DestroyWindow(hwnd);
  }
}

bool Window::Create(const wchar_t* className, std::u16string_view caption, int clientWidth, int clientHeight,
                    DWORD style, DWORD exStyle) {
  StartCommonControls();
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (!GetClassInfoExW(instance, className, &existing)) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &Window::Procedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className;
    if (!RegisterClassExW(&wc)) return false;
  }
  RECT r{0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  // WS_EX_CONTROLPARENT: Tab walks into and out of the window's controls.
  return CreateWindowExW(exStyle | WS_EX_CONTROLPARENT, className, Wide(caption).c_str(), style, CW_USEDEFAULT,
                         CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance,
                         this) != nullptr;
}

void Window::ShowWithoutFocus() {
  SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, GetWindowLongPtrW(hwnd_, GWL_EXSTYLE) | WS_EX_NOACTIVATE);
  KeepOnTopWithoutFocus(hwnd_);
  ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
  UpdateWindow(hwnd_);
  SetTimer(hwnd_, kShownTimer, kShownMs, nullptr);
}

LRESULT Window::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    RemovePropW(hwnd, kToolTipProperty);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    const LRESULT result = self->Handle(message, wParam, lParam);
    self->hwnd_ = nullptr;
    return result;
  }
  if (message == WM_TIMER && wParam == kShownTimer) {
    KillTimer(hwnd, kShownTimer);
    SetWindowLongPtrW(hwnd, GWL_EXSTYLE, GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & ~WS_EX_NOACTIVATE);
    return 0;
  }
  return self->Handle(message, wParam, lParam);
}

// ---- Controls

HWND MakeButton(HWND parent, int id, std::u16string_view text, Bounds at, bool isDefault) {
  return MakeChild(parent, WC_BUTTONW, text, WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), id, at);
}

HWND MakeLabel(HWND parent, int id, std::u16string_view text, Bounds at, DWORD extraStyle) {
  // SS_NOTIFY: the label takes the mouse itself, so its tooltip sees it. SS_NOPREFIX: an "&" in a
  // file name is shown, not taken for a shortcut.
  return MakeChild(parent, WC_STATICW, text, SS_LEFT | SS_NOTIFY | SS_NOPREFIX | extraStyle, id, at);
}

HWND MakeEdit(HWND parent, int id, std::u16string_view text, Bounds at) {
  HWND edit = MakeChild(parent, WC_EDITW, text, WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, id, at);
  if (edit) SetWindowLongPtrW(edit, GWL_EXSTYLE, GetWindowLongPtrW(edit, GWL_EXSTYLE) | WS_EX_CLIENTEDGE);
  return edit;
}

HWND MakeMultiLineEdit(HWND parent, int id, std::u16string_view text, Bounds at) {
  return MakeChild(parent, WC_EDITW, text,
                   WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, id, at);
}

HWND MakeCheckBox(HWND parent, int id, std::u16string_view text, Bounds at) {
  return MakeChild(parent, WC_BUTTONW, text, WS_TABSTOP | BS_AUTOCHECKBOX, id, at);
}

HWND MakeDropDownList(HWND parent, int id, Bounds at, int listHeight) {
  // A combo box's height is that of the box with its list open.
  at.height += listHeight;
  return MakeChild(parent, WC_COMBOBOXW, u"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, id, at);
}

HWND MakeProgressBar(HWND parent, int id, Bounds at) { return MakeChild(parent, PROGRESS_CLASSW, u"", 0, id, at); }

void SetText(HWND control, std::u16string_view text) { SetWindowTextW(control, Wide(text).c_str()); }

std::u16string GetText(HWND control) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return Narrow(text);
}

void SetProgress(HWND progressBar, int value, int maximum) {
  SendMessageW(progressBar, PBM_SETRANGE32, 0, maximum > 0 ? maximum : 1);
  SendMessageW(progressBar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

// ---- Tooltips

void SetToolTip(HWND control, std::u16string_view text) {
  HWND root = GetAncestor(control, GA_ROOT);
  HWND tips = static_cast<HWND>(GetPropW(root, kToolTipProperty));
  if (!tips) {
    if (text.empty()) return;
    StartCommonControls();
    tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, root, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
    if (!tips) return;
    SendMessageW(tips, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
    // A width makes the tooltip break its text at line breaks; failures are listed a line each.
    SendMessageW(tips, TTM_SETMAXTIPWIDTH, 0, 600);
    // Long enough to read a list of failures.
    SendMessageW(tips, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
    SetPropW(root, kToolTipProperty, tips);
  }
  TTTOOLINFOW tool = ToolFor(control);
  SendMessageW(tips, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  if (text.empty()) return;
  std::wstring wide = Wide(text);
  tool.lpszText = wide.data();
  SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

std::u16string ToolTipOf(HWND control) {
  HWND tips = static_cast<HWND>(GetPropW(GetAncestor(control, GA_ROOT), kToolTipProperty));
  if (!tips) return {};
  TTTOOLINFOW tool = ToolFor(control);
  if (!SendMessageW(tips, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool))) return {};
  std::vector<wchar_t> text(8192, L'\0');
  tool = ToolFor(control);
  tool.lpszText = text.data();
  SendMessageW(tips, TTM_GETTEXTW, text.size(), reinterpret_cast<LPARAM>(&tool));
  return Narrow(text.data());
}

// ---- Message loop

int RunMessageLoop(HWND window) {
  MSG msg;
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return -1;
    if (window && IsWindow(window) && IsDialogMessageW(window, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// ---- Mailbox

std::shared_ptr<WindowMailbox> WindowMailbox::For(HWND window) {
  std::shared_ptr<WindowMailbox> mailbox(new WindowMailbox(window));
  if (!IsWindow(window) ||
      !SetWindowSubclass(window, &WindowMailbox::Hook, 1, reinterpret_cast<DWORD_PTR>(mailbox.get()))) {
    mailbox->window_ = nullptr;
    return mailbox;
  }
  mailbox->self_ = mailbox;
  return mailbox;
}

WindowMailbox::~WindowMailbox() = default;

bool WindowMailbox::Open() const {
  std::lock_guard lock(mutex_);
  return window_ != nullptr;
}

bool WindowMailbox::Post(std::function<void()> function) {
  std::unique_lock lock(mutex_);
  if (!window_) return false;
  queue_.push_back(std::move(function));
  if (wakePending_) return true;
  if (!PostMessageW(window_, MailboxMessage(), 0, 0)) {
    // The window's queue is full or the window just went: this function is not taken.
    std::function<void()> dropped = std::move(queue_.back());
    queue_.pop_back();
    lock.unlock();
    return false;
  }
  wakePending_ = true;
  return true;
}

void WindowMailbox::Deliver() {
  // A function may destroy the window, and with it the hook's hold on this mailbox.
  const std::shared_ptr<WindowMailbox> keep = shared_from_this();
  size_t due = 0;
  {
    std::lock_guard lock(mutex_);
    wakePending_ = false;
    due = queue_.size();
  }
  // The functions queued when the wake came, one at a time from the shared queue: one that runs
  // a modal loop (a message box) lets the later ones run inside it, still in order. Those posted
  // meanwhile wait for their own wake, behind the input and painting queued before them, so a
  // busy worker never starves the window.
  for (; due > 0; --due) {
    std::function<void()> function;
    {
      std::lock_guard lock(mutex_);
      if (!window_ || queue_.empty()) return;
      function = std::move(queue_.front());
      queue_.pop_front();
    }
    function();
  }
}

void WindowMailbox::Close() {
  std::deque<std::function<void()>> dropped;
  std::lock_guard lock(mutex_);
  window_ = nullptr;
  dropped.swap(queue_);
}

LRESULT CALLBACK WindowMailbox::Hook(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  auto* mailbox = reinterpret_cast<WindowMailbox*>(data);
  if (message == MailboxMessage()) {
    mailbox->Deliver();
    return 0;
  }
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &WindowMailbox::Hook, 1);
    const std::shared_ptr<WindowMailbox> last = std::move(mailbox->self_);
    mailbox->Close();
    return DefSubclassProc(hwnd, message, wParam, lParam);
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace torvo::win32
