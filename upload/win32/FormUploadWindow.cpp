#include "upload/win32/FormUploadWindow.h"

#include <cstdio>

#include "platform/codepage.h"
#include "platform/win32/desktop_services.h"
#include "platform/win32/topmost.h"
#include "upload/form_layout.h"

#ifndef TORVO_UPLOAD_PORT
#error "TORVO_UPLOAD_PORT must name the upload hosts' port"
#endif

namespace torvo::upload {

namespace {

enum ControlId { kCommand1 = 1, kText_URL, kText_Title, kText_Note, kCheck_secu, kCombo_folder, kPicImage, kLabel };

constexpr wchar_t kFormClass[] = L"TorvoFormUpload";
constexpr wchar_t kPictureClass[] = L"TorvoPictureBox";
// How long the shown window tells the window manager it takes no focus.
constexpr COLORREF kAddressGrey = RGB(0xEF, 0xEF, 0xEF);

win32::Bounds At(const FormRect& r) { return {r.left, r.top, r.width, r.height}; }

// The edit control keeps its lines with CR LF; the session and the wire know only LF, as the
// other desktops' text boxes give it.
std::u16string WithCrLf(const std::u16string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) out += u'\r';
    out += text[i];
  }
  return out;
}
std::u16string WithLf(const std::u16string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
    out += text[i];
  }
  return out;
}

void RegisterPictureBox(WNDPROC procedure) {
  static const ATOM atom = [procedure] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kPictureClass;
    return RegisterClassW(&wc);
  }();
  (void)atom;
}

}  // namespace

void Tell(const std::u16string& message) {
  std::fprintf(stderr, "TorvoTool: %s\n", ToUtf8(message).c_str());
  std::fflush(stderr);
  win32::Win32DesktopServices().ShowMessage(message);
}

FormUploadWindow::FormUploadWindow() {
  greyBrush_ = CreateSolidBrush(kAddressGrey);
  const ThumbnailPlace size = upload::PlaceThumbnail(0, 0);
  Create(kFormClass, u"Torvo", size.clientWidth, size.clientHeight);
  const FormControls& at = FormControlPlaces();
  // Made in the tab order: the save button first, so it holds the focus whenever the window opens.
  Command1 = win32::MakeButton(hwnd(), kCommand1, u"저장", At(at.Command1), /*isDefault=*/true);
  Label2 = win32::MakeLabel(hwnd(), kLabel, u"주소", At(at.Label2));
  Text_URL = win32::MakeEdit(hwnd(), kText_URL, u"", At(at.Text_URL));
  Label1 = win32::MakeLabel(hwnd(), kLabel, u"제목", At(at.Label1));
  Text_Title = win32::MakeEdit(hwnd(), kText_Title, u"", At(at.Text_Title));
  Label3 = win32::MakeLabel(hwnd(), kLabel, u"내용", At(at.Label3));
  Text_Note = win32::MakeMultiLineEdit(hwnd(), kText_Note, u"", At(at.Text_Note));
  RegisterPictureBox(&FormUploadWindow::PictureProcedure);
  picImage = CreateWindowExW(0, kPictureClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0, hwnd(),
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPicImage)), GetModuleHandleW(nullptr),
                             nullptr);
  SetWindowLongPtrW(picImage, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  Check_secu = win32::MakeCheckBox(hwnd(), kCheck_secu, u"보안", At(at.Check_secu));
  Label_folder = win32::MakeLabel(hwnd(), kLabel, u"폴더", At(at.Label_folder));
  Combo_folder = win32::MakeDropDownList(hwnd(), kCombo_folder, At(at.Combo_folder), 200);
  PlaceThumbnail();
}

FormUploadWindow::~FormUploadWindow() {
  session_.reset();
  if (picImage) SetWindowLongPtrW(picImage, GWLP_USERDATA, 0);
  if (greyBrush_) DeleteObject(greyBrush_);
}

bool FormUploadWindow::Form_Load(Preparation prepared) {
  // 1.-10.
  instance_ = std::move(prepared.instance);
  if (prepared.stopped) {
    upload::Tell(prepared.message);
    Form_Unload();
    return false;
  }
  Inet1 = std::move(prepared.Inet1);
  SendMessageW(Combo_folder, CB_RESETCONTENT, 0, 0);
  for (const FolderEntry& folder : FolderChoices(prepared.folders)) {
    const LRESULT index = SendMessageW(Combo_folder, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(win32::Wide(folder.name).c_str()));
    SendMessageW(Combo_folder, CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(folder.id));
  }
  SendMessageW(Combo_folder, CB_SETCURSEL, 0, 0);
  thumbnail_ = std::move(prepared.thumbnail);
  picImageCanvas_ = std::move(prepared.picImage);
  picImageCanvas_->SetRepaint([this] { InvalidateRect(picImage, nullptr, FALSE); });
  Render();

  UploadSessionSetup setup;
  setup.OutputDir = prepared.OutputDir;
  setup.strTargetUrl = prepared.folders.target;
  setup.ToolbarID = prepared.ToolbarID;
  setup.RemotePort = TORVO_UPLOAD_PORT;
  if (prepared.service) {
    // The user's own service: uploads on its scheme and port, under its folder.
    setup.scheme = prepared.service->scheme;
    setup.RemotePort = prepared.service->port;
    setup.namePort = !prepared.service->DefaultPort();
    setup.path = prepared.service->path;
    setup.trustedPem = prepared.trustedPem;
  }
  session_ = std::make_unique<UploadSession>(std::move(setup), *this, Winsock1, replyTimer_, *this, pending_);

  // 11.
  win32::SetText(Text_URL, prepared.txtURL);
  win32::SetText(Text_Title, prepared.txtTitle);
  win32::SetText(Text_Note, WithCrLf(prepared.txtNote));
  return true;
}


void FormUploadWindow::Render() {
  DrawThumbnail(*thumbnail_, *picImageCanvas_);
  PlaceThumbnail();
  InvalidateRect(picImage, nullptr, FALSE);
}

void FormUploadWindow::PlaceThumbnail() {
  const ThumbnailPlace place = upload::PlaceThumbnail(picImageCanvas_ ? picImageCanvas_->width() : 0,
                                                      picImageCanvas_ ? picImageCanvas_->height() : 0);
  MoveWindow(picImage, place.picImage.left, place.picImage.top, place.picImage.width, place.picImage.height, TRUE);
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(hwnd(), GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd(), GWL_EXSTYLE));
  RECT r{0, 0, place.clientWidth, place.clientHeight};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  SetWindowPos(hwnd(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FormUploadWindow::Command1_Click() {
  if (session_) session_->Save();
}

bool FormUploadWindow::IsPrivate() { return SendMessageW(Check_secu, BM_GETCHECK, 0, 0) == BST_CHECKED; }
std::u16string FormUploadWindow::Note() { return WithLf(win32::GetText(Text_Note)); }
std::u16string FormUploadWindow::Url() { return win32::GetText(Text_URL); }
std::u16string FormUploadWindow::Title() { return win32::GetText(Text_Title); }

int32_t FormUploadWindow::Folder() {
  const LRESULT index = SendMessageW(Combo_folder, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return 0;  // nothing chosen: the default folder
  return static_cast<int32_t>(SendMessageW(Combo_folder, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

void FormUploadWindow::SetSaveEnabled(bool enabled) { EnableWindow(Command1, enabled ? TRUE : FALSE); }
// Focusing a control of an inactive window would activate it: the window's activation gives the
// save button the focus anyway.
void FormUploadWindow::FocusSave() {
  if (GetActiveWindow() == hwnd()) SetFocus(Command1);
}

void FormUploadWindow::Finished(int status) {
  ShowWindow(hwnd(), SW_HIDE);
  Form_Unload();
  PostQuitMessage(status);
}

void FormUploadWindow::Tell(const std::u16string& message) { upload::Tell(message); }

void FormUploadWindow::Form_Unload() {
  if (session_) session_->Unload();
  if (Text_URL) win32::SetText(Text_URL, u"");
}

LRESULT FormUploadWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kCommand1 && HIWORD(wParam) == BN_CLICKED) Command1_Click();
      return 0;
    case WM_NEXTDLGCTL:
      // The note box asks its parent to move on when Tab is pressed in it, as in a dialog.
      if (LOWORD(lParam) == 0) {
        if (HWND next = GetNextDlgTabItem(hwnd(), GetFocus(), wParam != 0 ? TRUE : FALSE)) SetFocus(next);
      } else {
        SetFocus(reinterpret_cast<HWND>(wParam));
      }
      return 0;
    case WM_ACTIVATE:
      // The save button holds the focus whenever the window becomes active.
      if (LOWORD(wParam) != WA_INACTIVE) SetFocus(Command1);
      return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == Text_URL) {
        SetBkColor(reinterpret_cast<HDC>(wParam), kAddressGrey);
        return reinterpret_cast<LRESULT>(greyBrush_);
      }
      break;
    case WM_PAINT: {
      // Form_Paint: the window comes back on top whenever it is drawn.
      PAINTSTRUCT ps;
      BeginPaint(hwnd(), &ps);
      EndPaint(hwnd(), &ps);
      win32::KeepOnTopWithoutFocus(hwnd());
      return 0;
    }
    case WM_CLOSE:
      Form_Unload();
      ShowWindow(hwnd(), SW_HIDE);
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return Window::Handle(message, wParam, lParam);
}

LRESULT CALLBACK FormUploadWindow::PictureProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<FormUploadWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    const gdi::Bitmap* image = self && self->picImageCanvas_ ? self->picImageCanvas_->Image() : nullptr;
    if (image) {
      // The canvas keeps its rows bottom-up, as a device-independent bitmap of positive height does.
      BITMAPINFO info{};
      info.bmiHeader.biSize = sizeof info.bmiHeader;
      info.bmiHeader.biWidth = image->width();
      info.bmiHeader.biHeight = image->height();
      info.bmiHeader.biPlanes = 1;
      info.bmiHeader.biBitCount = static_cast<WORD>(image->bitsPerPixel());
      info.bmiHeader.biCompression = BI_RGB;
      SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(image->width()), static_cast<DWORD>(image->height()), 0, 0, 0,
                        static_cast<UINT>(image->height()), image->bits(), &info, DIB_RGB_COLORS);
    }
    EndPaint(hwnd, &ps);
    return 0;
  }
  if (message == WM_GETDLGCODE) return DLGC_WANTARROWS;
  if (message == WM_LBUTTONDOWN) SetFocus(hwnd);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace torvo::upload
