#pragma once
// The upload window: the page's address, title and note, the folder, the privacy box, the save
// button and the thumbnail that will be uploaded. All preparation runs in Form_Load before the
// window is first shown.
#include <QWidget>
#include <filesystem>
#include <memory>
#include <string>

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
  PictureBox(Canvas& canvas, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Canvas& canvas_;
};

class FormUpload : public QWidget {
 public:
  FormUpload();
  ~FormUpload() override;

  // The start-up sequence. False when it stopped early: the message was shown and the form
  // unloaded, and the program ends. Errors nobody handles (an undecodable note, a failed
  // pipeline) are raised as TorvoError.
  bool Form_Load(const std::u16string& commandLine);

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
  ThumbnailState thumbnail;  // OutputWidth, OutputHeight, cDibImage, cDibBuffer, cProcessor

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
  Canvas picImageCanvas;
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
