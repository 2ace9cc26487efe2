#pragma once
// The upload window: the page's address, title and note, the folder, the privacy box, the save
// button and the thumbnail that will be uploaded. All preparation runs in Form_Load before the
// window is first shown.
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "upload/app/StartUp.h"
#include "upload/canvas.h"
#include "upload/thumbnail_pipeline.h"
#include "upload/upload_reply.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace torvo {
class HttpClient;
namespace desktop {
class SingleInstance;
class TcpClient;
}  // namespace desktop
}  // namespace torvo

namespace torvo::upload {

// Shows a canvas's persistent image.
class PictureBox : public QWidget {
 public:
  explicit PictureBox(QWidget* parent);
  // The canvas shown from now on; it repaints the box whenever it changes.
  void SetCanvas(Canvas* canvas);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Canvas* canvas_ = nullptr;
};

class FormUpload : public QWidget {
 public:
  FormUpload();
  ~FormUpload() override;

  // The start-up sequence: steps 1 to 10 are prepared (PrepareStartUp, which may run while the
  // toolkit starts), then the controls are filled. False when it stopped early: the message was
  // shown and the form unloaded, and the program ends.
  bool Form_Load(Preparation prepared);

  // Draws the thumbnail surface into the picture box so that it shows.
  void Render();
  // Maps the thumbnail onto the colours of a palette file and shows it. A palette that cannot
  // be loaded raises its error and leaves the thumbnail as it was.
  void ApplyPalette(const std::filesystem::path& sPalFile);

  // The save button and the upload's connection (FormUpload_save.cpp).
  void Command1_Click();
  void Winsock1_Connect();
  void Winsock1_DataArrival(int64_t bytesTotal);

  // Called once the reply has been handled and the form unloaded: the program ends with this
  // status (0 when the image was stored and kept, 1 when a message was shown).
  std::function<void(int status)> Ended;

  // Public variables of the form.
  std::u16string txtURL;
  std::u16string txtTitle;
  std::u16string txtNote;
  std::filesystem::path OutputDir;
  std::u16string strTargetUrl;
  std::u16string strFolderNTarget;
  std::u16string ToolbarID;
  std::unique_ptr<ThumbnailState> thumbnail;  // OutputWidth, OutputHeight, cDibImage, cDibBuffer, cProcessor

  QLabel* Label2;
  QLineEdit* Text_URL;
  QLabel* Label1;
  QLineEdit* Text_Title;
  QLabel* Label3;
  QPlainTextEdit* Text_Note;
  QLabel* Label_folder;
  QComboBox* Combo_folder;
  QCheckBox* Check_secu;
  QPushButton* Command1;
  std::unique_ptr<Canvas> picImageCanvas;
  PictureBox* picImage;
  desktop::TcpClient* Winsock1;
  uint16_t RemotePort;  // the build's upload port
  // How long the connection and the reply may take before the user is told (or, when part of a
  // reply has come, before it is decided on what has arrived).
  int ReplyTimeMs = 30000;

 protected:
  void paintEvent(QPaintEvent* event) override;  // Form_Paint
  void closeEvent(QCloseEvent* event) override;  // Form_Unload

 private:
  bool Stop(const std::u16string& message);
  void Form_Unload();
  void PlaceThumbnail();

  // The upload under way (FormUpload_save.cpp).
  enum class UploadState { kIdle, kConnecting, kSending, kWaiting };
  void WireUpload();
  void Winsock1_Closed();
  void Winsock1_Failed(const std::string& text);
  void ReplyTimeUp();
  void UploadFailed(const std::u16string& message);
  void ReplyDecided(const UploadVerdict& verdict);
  int32_t SelectedFolder() const;

  std::unique_ptr<desktop::SingleInstance> instance_;
  std::unique_ptr<HttpClient> Inet1;
  UploadState uploadState_ = UploadState::kIdle;
  uint64_t uploadAttempt_ = 0;  // a handler that let events run checks it did not change
  bool unloading_ = false;      // the form is going: no handler goes on
  std::string thumbnailBytes_;
  UploadReplyReader reply_;
  QTimer* replyTimer_;
};

// The message shown to the user, also written to standard error for whoever started us.
void Tell(const std::u16string& message);

}  // namespace torvo::upload
