#include "platform/desktop/clipboard.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QScreen>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/desktop/message_box.h"
#include "platform/error.h"

namespace torvo::desktop {

const gdi::DeviceContext* QtDesktopServices::ScreenContext() {
  return qGuiApp && QGuiApplication::primaryScreen() ? &screen_ : nullptr;
}

bool QtDesktopServices::PutBitmapOnClipboard(const gdi::Bitmap& bitmap) {
  if (!qGuiApp) return false;
  const int32_t bytes = bitmap.bytesPerPixel();
  if (bytes != 3 && bytes != 4) return false;
  QImage image(bitmap.width(), bitmap.height(), QImage::Format_RGB32);
  if (image.isNull()) return false;
  for (int32_t y = 0; y < bitmap.height(); ++y) {
    const uint8_t* in = bitmap.TopDownRow(y);
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int32_t x = 0; x < bitmap.width(); ++x, in += bytes) out[x] = qRgb(in[2], in[1], in[0]);
  }
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setImage(image);
  const QMimeData* data = clipboard->mimeData();
  return data && data->hasImage();
}

void QtDesktopServices::ShowMessage(std::u16string_view text) { desktop::ShowMessage(std::u16string(text)); }

bool PutOnClipboardAndServe(const std::function<bool(QtDesktopServices& services)>& put) {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const bool hasDisplay = (platform && *platform) || std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
  if (!hasDisplay) return false;

  int report[2];
  if (pipe(report) != 0) return false;
  const pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) {
    // The server: away from the caller's terminal and pipes, so nobody waits for it to end.
    close(report[0]);
    setsid();
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, STDIN_FILENO);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      if (null > STDERR_FILENO) close(null);
    }
    int argc = 1;
    std::string name = ProgramName();
    char* argv[] = {name.data(), nullptr};
    QApplication app(argc, argv);
    QtDesktopServices services;
    const bool accepted = put(services);
    const char answer = accepted ? '1' : '0';
    (void)!write(report[1], &answer, 1);
    close(report[1]);
    if (accepted) {
      QClipboard* clipboard = QGuiApplication::clipboard();
      QObject::connect(clipboard, &QClipboard::dataChanged, &app, [clipboard, &app] {
        if (!clipboard->ownsClipboard()) app.quit();
      });
      if (clipboard->ownsClipboard()) app.exec();
    }
    _exit(0);
  }
  close(report[1]);
  char answer = '0';
  ssize_t got;
  do {
    got = read(report[0], &answer, 1);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got != 1 || answer != '1') {
    // The child ended, or is ending, without the clipboard: collect it.
    waitpid(child, nullptr, 0);
    return false;
  }
  return true;
}

}  // namespace torvo::desktop
