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
#include "upload/upload_session.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;


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

// Glue between the widgets and the upload session: the widgets show the fields and take the
// press; the session does the save.
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

  // The save button.
  void Command1_Click();

  // Called once the reply has been handled and the form unloaded: the program ends with this
  // status (0 when the image was stored and kept, 1 when a message was shown).
  std::function<void(int status)> Ended;

  // The upload goes to this port (the build's unless told otherwise) and may take this long.
  void SetUploadPort(uint16_t port);
  void SetReplyTimeMs(int ms);

  // What the picture box shows, and the thumbnail it was drawn from (loaded forms only).
  const Canvas& ShownThumbnail() const { return *picImageCanvas_; }
  const cDIBSection& Thumbnail() const { return thumbnail_->cDibImage; }

 protected:
  void paintEvent(QPaintEvent* event) override;  // Form_Paint
  void closeEvent(QCloseEvent* event) override;  // Form_Unload

 private:
  class SessionGlue;

  bool Stop(const std::u16string& message);
  void Form_Unload();
  void PlaceThumbnail();
  void WireUpload();
  void StartSession(const Preparation& prepared);

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
  PictureBox* picImage;

  std::unique_ptr<SingleInstanceLock> instance_;
  std::unique_ptr<HttpGetter> Inet1;
  std::unique_ptr<ThumbnailState> thumbnail_;  // OutputWidth, OutputHeight, cDibImage, cDibBuffer, cProcessor
  std::unique_ptr<Canvas> picImageCanvas_;
  std::unique_ptr<SessionGlue> glue_;
  std::unique_ptr<UploadSession> session_;
  uint16_t uploadPort_;
  int replyTimeMs_ = 30000;
};

// The message shown to the user, also written to standard error for whoever started us.
void Tell(const std::u16string& message);

}  // namespace torvo::upload
