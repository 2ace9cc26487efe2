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
#include "upload/form_layout.h"

namespace torvo::upload {

namespace {

QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }

template <typename W>
W* Place(W* widget, const FormRect& at) {
  widget->setGeometry(at.left, at.top, at.width, at.height);
  return widget;
}

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
  const FormControls& at = FormControlPlaces();
  Label2 = Place(new QLabel(QString::fromUtf8("주소"), this), at.Label2);
  Text_URL = Place(new QLineEdit(this), at.Text_URL);
  Label1 = Place(new QLabel(QString::fromUtf8("제목"), this), at.Label1);
  Text_Title = Place(new QLineEdit(this), at.Text_Title);
  Label3 = Place(new QLabel(QString::fromUtf8("내용"), this), at.Label3);
  Text_Note = Place(new QPlainTextEdit(this), at.Text_Note);
  Check_secu = Place(new QCheckBox(QString::fromUtf8("보안"), this), at.Check_secu);
  Label_folder = Place(new QLabel(QString::fromUtf8("폴더"), this), at.Label_folder);
  Combo_folder = Place(new QComboBox(this), at.Combo_folder);
  Command1 = Place(new QPushButton(QString::fromUtf8("저장"), this), at.Command1);
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
  const ThumbnailPlace place = upload::PlaceThumbnail(picImageCanvas_ ? picImageCanvas_->width() : 0,
                                                      picImageCanvas_ ? picImageCanvas_->height() : 0);
  Place(picImage, place.picImage);
  setFixedSize(place.clientWidth, place.clientHeight);
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
  for (const FolderEntry& folder : FolderChoices(prepared.folders)) Combo_folder->addItem(Q(folder.name), folder.id);
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
  DrawThumbnail(*thumbnail_, *picImageCanvas_);
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
