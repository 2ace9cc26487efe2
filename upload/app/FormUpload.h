#pragma once
// The upload window: the page's address, title and note, the folder, the privacy box, the save
// button and the thumbnail that will be uploaded. All preparation runs in Form_Load before the
// window is first shown.
#include <QWidget>
#include <filesystem>
#include <memory>
#include <string>

#include "upload/app/StartUp.h"
#include "upload/canvas.h"
#include "upload/thumbnail_pipeline.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace torvo {
class HttpClient;
namespace desktop {
class SingleInstance;
}
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

 protected:
  void paintEvent(QPaintEvent* event) override;  // Form_Paint
  void closeEvent(QCloseEvent* event) override;  // Form_Unload

 private:
  bool Stop(const std::u16string& message);
  void Form_Unload();
  void PlaceThumbnail();

  std::unique_ptr<desktop::SingleInstance> instance_;
  std::unique_ptr<HttpClient> Inet1;
};

// The message shown to the user, also written to standard error for whoever started us.
void Tell(const std::u16string& message);

}  // namespace torvo::upload
