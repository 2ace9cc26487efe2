// TorvoTool: started by the browser toolbar once per page to keep, with the command line
// identity ";^;" address ";^;" title ";^;" percent-encoded note.
#include <fontconfig/fontconfig.h>
#include <malloc.h>

#include <QApplication>
#include <QFont>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <future>
#include <string>

#include "platform/codepage.h"
#include "platform/command_line.h"
#include "platform/desktop/picture_handover.h"
#include "platform/desktop/x11_capture_provider.h"
#include "platform/error.h"
#include "torvo_version.h"
#include "upload/app/FormUpload.h"
#include "upload/app/StartUp.h"
#include "upload/app/WaylandCapture.h"
#include "upload/browser_picture_capture.h"

int main(int argc, char** argv) {
  // The toolbar always passes the page's fields, so only a lone --help or --version is an option.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("TorvoTool (Torvo) %s\n", TORVO_VERSION);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf(
        "Usage: TorvoTool TOOLBARID;^;ADDRESS;^;TITLE;^;NOTE\n"
        "Keeps the web page in front: makes a thumbnail of the browser's picture of the page\n"
        "(handed over by the toolbar), else of the window in front (on Wayland through the\n"
        "desktop portal) and, when Save is pressed, uploads it with the page's address, title and\n"
        "percent-encoded note to the folder chosen on the Torvo service. The browser toolbar\n"
        "starts it; the arguments, joined with single spaces, are the fields separated by \";^;\".\n"
        "Work files and kept thumbnails are in ~/Torvo.\n"
        "\n"
        "      --help     display this help and exit (as the only argument)\n"
        "      --version  output version information and exit (as the only argument)\n");
    return 0;
  }
  // The command line is the arguments after the program's path, joined with single spaces. It
  // is the toolbar's text: none of it is an option for the toolkit.
  const std::string commandLine = torvo::JoinArguments(argc, argv);
  // Pictures of a few megabytes pass through one after the other (the capture, the files read
  // back): kept on the heap, each reuses the memory of the one before instead of fresh pages,
  // whose first touches cost more than the work on them. One heap for every thread: the
  // browser's picture is decoded on a thread of its own, and the read-back that follows on
  // another must find that memory in its own heap.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
  mallopt(M_ARENA_MAX, 1);

  // These change the environment, so they come before any other thread starts.
  // The toolbar's host hands over the browser's own picture of the page when it has one.
  torvo::desktop::HandedOverPicture picture = torvo::desktop::TakeHandedOverPicture();
  const bool wayland = torvo::upload::IsWaylandSession();
  // On Wayland the window goes through XWayland where there is one: only there does it stay
  // above the browser without taking the focus, as on X11.
  const char* display = std::getenv("DISPLAY");
  if (wayland && display && *display) setenv("QT_QPA_PLATFORM", "xcb", /*overwrite=*/0);

  // The picture: the browser's, else on Wayland the desktop portal's, else the window in front
  // on the X11 screen.
  std::unique_ptr<torvo::CaptureProvider> capture;
  if (picture.handedOver) {
    auto browserPicture = std::make_unique<torvo::upload::BrowserPictureCaptureProvider>(std::move(picture));
    // Decoded on the second core while the toolkit starts on this one; the start-up takes it
    // after the folder list, as it would take a capture.
    browserPicture->StartDecoding();
    capture = std::move(browserPicture);
  } else if (wayland) {
    capture = std::make_unique<torvo::upload::WaylandCaptureProvider>();
  } else {
    capture = std::make_unique<torvo::desktop::X11CaptureProvider>();
  }
  // The start-up's own work (folder list, capture, thumbnail) touches no widget: it runs while
  // the toolkit starts on this thread, and the window waits for it before it is first shown.
  // Its folder list goes through Qt Network, which waits for the application object: made ready
  // right after the application is made, below.
  std::promise<void> applicationReady;
  std::future<torvo::upload::Preparation> prepared =
      torvo::upload::StartPreparation(torvo::FromUtf8(commandLine), *capture, applicationReady.get_future().share());
  // The labels are the first text shown, and the toolkit's font list starts with reading the
  // font configuration and its caches: read them meanwhile too.
  std::future<FcBool> fontConfiguration = std::async(std::launch::async, FcInit);

  int toolkitArgc = 1;
  QApplication app(toolkitArgc, argv);
  applicationReady.set_value();
  QApplication::setApplicationName("TorvoTool");
  QApplication::setDesktopFileName("org.torvo.TorvoTool");
  QApplication::setFont(QFont("NanumGothic", 9));

  fontConfiguration.wait();
  torvo::upload::FormUpload form;
  if (!torvo::upload::LoadForm(form, prepared, torvo::upload::Tell)) return 1;
  // The upload's reply unloads the form and ends the program with its status.
  form.Ended = [](int status) { QCoreApplication::exit(status); };
  form.show();
  return app.exec();
}
