#pragma once
// The upload window on Windows: native controls over the upload session, placed and filled as
// every desktop's upload window is (upload/form_layout.h).
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/message_sink.h"
#include "platform/win32/one_shot_timer.h"
#include "platform/win32/pending_events.h"
#include "platform/win32/tcp_connection.h"
#include "platform/win32/window.h"
#include "upload/start_up.h"
#include "upload/upload_session.h"

namespace torvo::upload {

// The message shown to the user (a message box with the program's name), also written to
// standard error for whoever started us.
void Tell(const std::u16string& message);

class FormUploadWindow final : public win32::Window, public UploadFormView, public MessageSink {
 public:
  FormUploadWindow();
  ~FormUploadWindow() override;

  // Fills the controls from the prepared start-up. False when it stopped early: the message
  // was shown and the program ends.
  bool Form_Load(Preparation prepared);

  // The save button.
  void Command1_Click();

  // UploadFormView
  bool IsPrivate() override;
  std::u16string Note() override;
  std::u16string Url() override;
  std::u16string Title() override;
  int32_t Folder() override;
  void SetSaveEnabled(bool enabled) override;
  void FocusSave() override;
  void Finished(int status) override;
  // MessageSink
  void Tell(const std::u16string& message) override;

 protected:
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Render();
  void PlaceThumbnail();
  void Form_Unload();
  static LRESULT CALLBACK PictureProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND Label2 = nullptr, Text_URL = nullptr, Label1 = nullptr, Text_Title = nullptr, Label3 = nullptr,
       Text_Note = nullptr, Check_secu = nullptr, Label_folder = nullptr, Combo_folder = nullptr,
       Command1 = nullptr, picImage = nullptr;
  HBRUSH greyBrush_ = nullptr;

  std::unique_ptr<SingleInstanceLock> instance_;
  std::unique_ptr<HttpGetter> Inet1;
  std::unique_ptr<ThumbnailState> thumbnail_;
  std::unique_ptr<Canvas> picImageCanvas_;
  win32::WinsockConnection Winsock1;
  win32::Win32OneShotTimer replyTimer_;
  win32::Win32PendingEvents pending_;
  std::unique_ptr<UploadSession> session_;
};

}  // namespace torvo::upload
