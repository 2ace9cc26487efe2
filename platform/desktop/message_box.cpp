#include "platform/desktop/message_box.h"

#include <QApplication>
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
  box.exec();
}

}  // namespace torvo::desktop
