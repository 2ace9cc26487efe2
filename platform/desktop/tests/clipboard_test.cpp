#include "platform/desktop/clipboard.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>

#include "platform/desktop/message_box.h"

namespace torvo::desktop {
namespace {

TEST(QtDesktopServices, PutsTheBitmapOnTheClipboardTopRowFirst) {
  QtDesktopServices services;
  ASSERT_NE(services.ScreenContext(), nullptr);
  for (int32_t bits : {24, 32}) {
    auto bitmap = gdi::Bitmap::Create(3, 2, bits);
    // Scan line 0 is the bottom row.
    const uint8_t bottom[3][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    const uint8_t top[3][3] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
    for (int x = 0; x < 3; ++x) {
      for (int k = 0; k < 3; ++k) {
        bitmap->ScanLine(0)[x * bitmap->bytesPerPixel() + k] = bottom[x][k];
        bitmap->ScanLine(1)[x * bitmap->bytesPerPixel() + k] = top[x][k];
      }
    }
    ASSERT_TRUE(services.PutBitmapOnClipboard(*bitmap));
    const QImage image = QGuiApplication::clipboard()->image();
    ASSERT_EQ(image.width(), 3);
    ASSERT_EQ(image.height(), 2);
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(image.pixel(x, 0), qRgb(top[x][2], top[x][1], top[x][0])) << bits << " bits, x " << x;
      EXPECT_EQ(image.pixel(x, 1), qRgb(bottom[x][2], bottom[x][1], bottom[x][0])) << bits << " bits, x " << x;
    }
  }
}

TEST(QtDesktopServices, MessagesGoToTheMessageBox) {
  std::vector<std::u16string> messages;
  SetMessageSink([&](const std::u16string& text) { messages.push_back(text); });
  QtDesktopServices services;
  services.ShowMessage(u"I don't know how to put a DIB on the clipboard! Copy as bitmap instead!!!");
  SetMessageSink({});
  EXPECT_EQ(messages, (std::vector<std::u16string>{u"I don't know how to put a DIB on the clipboard! Copy as bitmap instead!!!"}));
}

}  // namespace
}  // namespace torvo::desktop
