#include "sync/win32/SyncWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>

#include "platform/codepage.h"
#include "platform/error.h"

namespace torvo::sync {

namespace {

enum ControlId { kCmd_Sync = 1, kLabelState, kProgressSync, kLabelResult };

constexpr wchar_t kWindowClass[] = L"TorvoSyncfrm";
// How long the shown window tells the window manager it takes no focus.

// The layout in pixels: the button, the "i / n" label wide enough for "00000 / 00000", the
// progress bar taking the rest of the row, and five lines for the result below.
constexpr int kWidth = 440, kHeight = 130, kMargin = 9, kGap = 6;
constexpr int kButtonWidth = 80, kButtonHeight = 24, kStateWidth = 90, kBarHeight = 18;
constexpr int kResultTop = kMargin + kButtonHeight + kGap;

}  // namespace

SyncWindow::SyncWindow(SyncSessionSetup setup) {
  if (!Create(kWindowClass, u"Torvo Sync", kWidth, kHeight)) throw std::runtime_error("the window could not be made");
  Cmd_Sync = win32::MakeButton(hwnd(), kCmd_Sync, u"Sync", {kMargin, kMargin, kButtonWidth, kButtonHeight}, true);
  const int stateLeft = kMargin + kButtonWidth + kGap;
  LabelState = win32::MakeLabel(hwnd(), kLabelState, u"0", {stateLeft, kMargin + 4, kStateWidth, 16});
  const int barLeft = stateLeft + kStateWidth + kGap;
  ProgressSync = win32::MakeProgressBar(hwnd(), kProgressSync,
                                        {barLeft, kMargin + (kButtonHeight - kBarHeight) / 2, kWidth - kMargin - barLeft, kBarHeight});
  win32::SetProgress(ProgressSync, 0, 1);
  LabelResult = win32::MakeLabel(hwnd(), kLabelResult, u"",
                                 {kMargin, kResultTop, kWidth - 2 * kMargin, kHeight - kResultTop - kMargin});
  mailbox_ = win32::WindowMailbox::For(hwnd());
  session_ = std::make_unique<SyncSession>(std::move(setup), static_cast<SyncFormView&>(*this), *mailbox_,
                                           static_cast<MessageSink&>(*this), instance_);
}

SyncWindow::~SyncWindow() { session_.reset(); }


void SyncWindow::SetSyncEnabled(bool enabled) { EnableWindow(Cmd_Sync, enabled ? TRUE : FALSE); }

void SyncWindow::ShowItem(int i, int n) {
  win32::SetText(LabelState, ItemCaption(i, n));
  SendMessageW(ProgressSync, PBM_SETRANGE32, 0, std::max(n, 1));
}

void SyncWindow::ShowFinishedItems(int finished, int n) { win32::SetProgress(ProgressSync, finished, n); }

void SyncWindow::ShowResult(const std::u16string& outcome, const std::u16string& failures) {
  win32::SetText(LabelResult, outcome);
  win32::SetToolTip(LabelResult, failures);
  // Taller when the outcome needs more lines than there are; never wider.
  RECT label;
  GetWindowRect(LabelResult, &label);
  const int width = label.right - label.left, height = label.bottom - label.top;
  RECT needed{0, 0, width, 0};
  HDC dc = GetDC(LabelResult);
  HGDIOBJ old = SelectObject(dc, win32::UiFont());
  const std::wstring text = win32::Wide(outcome);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(LabelResult, dc);
  const int grow = needed.bottom - height;
  if (grow <= 0) return;
  MoveWindow(LabelResult, kMargin, kResultTop, width, height + grow, TRUE);
  RECT frame;
  GetWindowRect(hwnd(), &frame);
  SetWindowPos(hwnd(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top + grow,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SyncWindow::Finish() {
  ShowWindow(hwnd(), SW_HIDE);
  PostQuitMessage(0);
}

void SyncWindow::Tell(const std::u16string& message) {
  // Owned by the window when it is up, so the box stays above a window that stays on top.
  HWND owner = IsWindowVisible(hwnd()) ? hwnd() : nullptr;
  const std::wstring title = win32::Wide(FromUtf8(ProgramName()));
  MessageBoxW(owner, win32::Wide(message).c_str(), title.c_str(), MB_OK | MB_SETFOREGROUND | (owner ? 0 : MB_TOPMOST));
}

LRESULT SyncWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kCmd_Sync && HIWORD(wParam) == BN_CLICKED) session_->Sync();
      return 0;
    case WM_CLOSE:
      // Closed during a sync: the transfer is aborted and waited for, what was written stays.
      ShowWindow(hwnd(), SW_HIDE);
      session_->Unload();
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return Window::Handle(message, wParam, lParam);
}

}  // namespace torvo::sync
