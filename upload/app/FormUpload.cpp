#include "upload/app/FormUpload.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>
#include <cstdio>

#include "platform/codepage.h"
#include "platform/desktop/message_box.h"
#include "platform/desktop/single_instance.h"
#include "platform/desktop/topmost.h"
#include "platform/error.h"
#include "platform/http.h"
#include "upload/app/FormUpload_glue.h"
#include "upload/folder_list.h"

namespace torvo::upload {

namespace {

// The form was laid out in twips; 15 twips are one pixel on a 96-dpi screen.
constexpr int kTwipsPerPixel = 15;
int Px(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }

template <typename W>
W* Place(W* widget, int left, int top, int width, int height) {
  widget->setGeometry(Px(left), Px(top), Px(width), Px(height));
  return widget;
}

// Client area of the original layout, and the column that shows the thumbnail beside it.
const int kFormWidth = Px(4680);
const int kFormHeight = Px(2790);
constexpr int kThumbnailMargin = 8;
constexpr int kThumbnailColumn = 200;

}  // namespace

void Tell(const std::u16string& message) {
  std::fprintf(stderr, "TorvoTool: %s\n", ToUtf8(message).c_str());
  desktop::ShowMessage(message);
}

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {}

void PictureBox::SetCanvas(Canvas* canvas) {
  canvas_ = canvas;
  if (canvas_) canvas_->SetRepaint([this] { update(); });
  update();
}

void PictureBox::paintEvent(QPaintEvent*) {
  const gdi::Bitmap* image = canvas_ ? canvas_->Image() : nullptr;
  if (!image) return;
  // The canvas keeps its rows bottom-up; the screen wants them top-down.
  QImage rows(image->bits(), image->width(), image->height(), image->stride(), QImage::Format_RGB32);
  QPainter(this).drawImage(0, 0, rows.mirrored(false, true));
}

FormUpload::FormUpload() : QWidget(nullptr) {
  setWindowTitle("Torvo");
  Label2 = Place(new QLabel(QString::fromUtf8("주소"), this), 120, 150, 495, 255);
  Text_URL = Place(new QLineEdit(this), 600, 120, 3975, 270);
  Label1 = Place(new QLabel(QString::fromUtf8("제목"), this), 120, 510, 495, 255);
  Text_Title = Place(new QLineEdit(this), 600, 480, 3975, 270);
  Label3 = Place(new QLabel(QString::fromUtf8("내용"), this), 120, 870, 495, 255);
  Text_Note = Place(new QPlainTextEdit(this), 600, 840, 3975, 1335);
  Check_secu = Place(new QCheckBox(QString::fromUtf8("보안"), this), 120, 2230, 735, 375);
  Label_folder = Place(new QLabel(QString::fromUtf8("폴더"), this), 960, 2330, 375, 255);
  Combo_folder = Place(new QComboBox(this), 1440, 2280, 1695, 300);
  Command1 = Place(new QPushButton(QString::fromUtf8("저장"), this), 3360, 2280, 1215, 375);
  picImage = new PictureBox(this);
  picImage->setObjectName("picImage");

  QPalette grey = Text_URL->palette();
  grey.setColor(QPalette::Base, QColor(0xEF, 0xEF, 0xEF));
  Text_URL->setPalette(grey);
  Text_Note->setTabChangesFocus(true);
  Text_Note->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  picImage->setFocusPolicy(Qt::StrongFocus);

  QWidget::setTabOrder(Command1, Text_URL);
  QWidget::setTabOrder(Text_URL, Text_Title);
  QWidget::setTabOrder(Text_Title, Text_Note);
  QWidget::setTabOrder(Text_Note, picImage);
  QWidget::setTabOrder(picImage, Check_secu);
  QWidget::setTabOrder(Check_secu, Combo_folder);
  // The save button holds the focus whenever the window becomes active.
  Command1->setFocus();

  PlaceThumbnail();
  WireUpload();
  desktop::MakeTopmostWithoutFocus(this);
}

void FormUpload::PlaceThumbnail() {
  const int left = kFormWidth + kThumbnailMargin / 2;
  const int top = Px(120);
  const int width = picImageCanvas_ ? picImageCanvas_->width() : 0;
  const int height = picImageCanvas_ ? picImageCanvas_->height() : 0;
  picImage->setGeometry(left + (kThumbnailColumn - width) / 2, top, width, height);
  setFixedSize(kFormWidth + kThumbnailColumn + kThumbnailMargin, std::max(kFormHeight, top + height + kThumbnailMargin));
}

bool FormUpload::Stop(const std::u16string& message) {
  Tell(message);
  hide();
  Form_Unload();
  return false;
}

bool FormUpload::Form_Load(Preparation prepared) {
  // 1.-10.
  instance_ = std::move(prepared.instance);
  if (prepared.stopped) return Stop(prepared.message);
  Inet1 = std::move(prepared.Inet1);
  Combo_folder->clear();
  Combo_folder->addItem(QString::fromUtf16(kDefaultFolderName), 0);
  for (const FolderEntry& folder : prepared.folders.folders) Combo_folder->addItem(Q(folder.name), folder.id);
  Combo_folder->setCurrentIndex(0);
  thumbnail_ = std::move(prepared.thumbnail);
  picImageCanvas_ = std::move(prepared.picImage);
  picImage->SetCanvas(picImageCanvas_.get());
  Render();
  StartSession(prepared);

  // 11.
  Text_URL->setText(Q(prepared.txtURL));
  Text_Title->setText(Q(prepared.txtTitle));
  Text_Note->setPlainText(Q(prepared.txtNote));
  Text_URL->setCursorPosition(0);
  Text_Title->setCursorPosition(0);
  return true;
}

void FormUpload::Render() {
  picImageCanvas_->Resize(thumbnail_->cDibImage.Width(), thumbnail_->cDibImage.Height());
  thumbnail_->cDibImage.PaintPicture(picImageCanvas_.get());
  PlaceThumbnail();
  picImage->update();
}

void FormUpload::paintEvent(QPaintEvent*) { desktop::KeepOnTop(this); }

void FormUpload::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

void FormUpload::Form_Unload() {
  if (session_) session_->Unload();
  Text_URL->clear();
}

}  // namespace torvo::upload
