#include "platform/desktop/message_box.h"

#include <QApplication>
#include <QGridLayout>
#include <QSpacerItem>
#include <QMessageBox>
#include <QString>

#include "platform/error.h"

namespace torvo::desktop {

namespace {
std::function<void(const std::u16string&)>& Sink() {
  static std::function<void(const std::u16string&)> sink;
  return sink;
}
}  // namespace

void SetMessageSink(std::function<void(const std::u16string&)> sink) { Sink() = std::move(sink); }

void ShowMessage(const std::u16string& text) {
  if (Sink()) {
    Sink()(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(ProgramName()),
                  QString::fromStdU16String(text), QMessageBox::Ok);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  // A short text makes a narrow box whose title the window manager cuts ("To... ol"): keep the box
  // wide enough for the title.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(new QSpacerItem(240, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0, 1,
                  grid->columnCount());
  }
  box.exec();
}

}  // namespace torvo::desktop
