#include "sync/app/Syncfrm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>

#include "platform/codepage.h"
#include "platform/desktop/message_box.h"
#include "platform/desktop/topmost.h"

namespace torvo::sync {

namespace {
QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }
}  // namespace

Syncfrm::Syncfrm(Setup setup, QWidget* parent) : QWidget(parent) {
  qRegisterMetaType<torvo::sync::SyncOutcome>();
  setWindowTitle(QStringLiteral("Torvo Sync"));

  Cmd_Sync = new QPushButton(QStringLiteral("Sync"), this);
  Cmd_Sync->setObjectName(QStringLiteral("Cmd_Sync"));
  LabelState = new QLabel(QStringLiteral("0"), this);
  LabelState->setObjectName(QStringLiteral("LabelState"));
  LabelState->setMinimumWidth(LabelState->fontMetrics().horizontalAdvance(QStringLiteral("00000 / 00000")));
  ProgressSync = new QProgressBar(this);
  ProgressSync->setObjectName(QStringLiteral("ProgressSync"));
  ProgressSync->setRange(0, 1);
  ProgressSync->setValue(0);
  ProgressSync->setTextVisible(false);
  LabelResult = new QLabel(this);
  LabelResult->setObjectName(QStringLiteral("LabelResult"));
  LabelResult->setWordWrap(true);
  // Long text wraps; it never widens the window.
  LabelResult->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  LabelResult->setMinimumWidth(1);
  LabelResult->setMinimumHeight(LabelResult->fontMetrics().lineSpacing() * 5);
  LabelResult->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  auto* row = new QHBoxLayout;
  row->addWidget(Cmd_Sync);
  row->addWidget(LabelState);
  row->addWidget(ProgressSync, 1);
  auto* column = new QVBoxLayout(this);
  column->addLayout(row);
  column->addWidget(LabelResult);
  resize(440, 130);

  connect(Cmd_Sync, &QPushButton::clicked, this, &Syncfrm::Cmd_Sync_Click);
  desktop::MakeTopmostWithoutFocus(this);

  SyncFormView& view = *this;
  MessageSink& messages = *this;
  session_ = std::make_unique<SyncSession>(std::move(setup), view, windowThread_, messages, instance_);
}

Syncfrm::~Syncfrm() { session_.reset(); }

void Syncfrm::SetSyncEnabled(bool enabled) { Cmd_Sync->setEnabled(enabled); }

void Syncfrm::ShowItem(int i, int n) {
  LabelState->setText(Q(ItemCaption(i, n)));
  ProgressSync->setRange(0, n);
}

void Syncfrm::ShowFinishedItems(int finished, int n) {
  ProgressSync->setRange(0, n);
  ProgressSync->setValue(finished);
}

void Syncfrm::ShowResult(const std::u16string& outcome, const std::u16string& failures) {
  LabelResult->setText(Q(outcome));
  // Taller when the outcome needs more lines than there are.
  const int needed = LabelResult->heightForWidth(LabelResult->width());
  if (needed > LabelResult->height()) resize(width(), height() + needed - LabelResult->height());
  LabelResult->setToolTip(Q(failures));
}

void Syncfrm::Finish() {
  hide();
  QCoreApplication::quit();
}

void Syncfrm::Tell(const std::u16string& message) {
  // On standard error as well, as TorvoTool does: a log and a script see what the user was told.
  std::fprintf(stderr, "TorvoSync: %s\n", ToUtf8(message).c_str());
  desktop::ShowMessage(message);
}

void Syncfrm::Form_Unload() {
  hide();
  session_->Unload();
}

void Syncfrm::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  // Raised above everything, except above its own message box: that would hide the box and leave
  // a window that answers nothing.
  if (!QApplication::activeModalWidget()) desktop::KeepOnTop(this);
}

void Syncfrm::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

}  // namespace torvo::sync
