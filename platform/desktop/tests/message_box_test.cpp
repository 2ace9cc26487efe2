#include "platform/desktop/message_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "platform/error.h"

namespace torvo::desktop {
namespace {

TEST(MessageBox, ShowsTextWithProgramTitleAndOnlyOk) {
  SetProgramName("TorvoTool");
  QString seenTitle, seenText;
  QMessageBox::StandardButtons seenButtons;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        seenTitle = box->windowTitle();
        seenText = box->text();
        seenButtons = box->standardButtons();
        box->accept();
      }
    }
  });
  ShowMessage(u"로그아웃 상태입니다.");
  EXPECT_EQ(seenTitle, "TorvoTool");
  EXPECT_EQ(seenText, QString::fromUtf8("로그아웃 상태입니다."));
  EXPECT_EQ(seenButtons, QMessageBox::Ok);
}

TEST(MessageBox, SinkReceivesTextInsteadOfABox) {
  std::u16string got;
  SetMessageSink([&](const std::u16string& t) { got = t; });
  ShowMessage(u"Please you must Login");
  SetMessageSink({});
  EXPECT_EQ(got, u"Please you must Login");
}

}  // namespace
}  // namespace torvo::desktop
