// TorvoTool: started by the browser toolbar once per page to keep, with the command line
// identity ";^;" address ";^;" title ";^;" percent-encoded note.
#include <fontconfig/fontconfig.h>
#include <malloc.h>

#include <QApplication>
#include <QFont>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>

#include "platform/codepage.h"
#include "platform/command_line.h"
#include "platform/desktop/x11_capture_provider.h"
#include "platform/error.h"
#include "torvo_version.h"
#include "upload/app/FormUpload.h"
#include "upload/app/StartUp.h"

int main(int argc, char** argv) {
  // The toolbar always passes the page's fields, so only a lone --help or --version is an option.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("TorvoTool (Torvo) %s\n", TORVO_VERSION);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf(
        "Usage: TorvoTool TOOLBARID;^;ADDRESS;^;TITLE;^;NOTE\n"
        "Keeps the web page in front: captures the window in front, makes a thumbnail and, when\n"
        "Save is pressed, uploads it with the page's address, title and percent-encoded note to\n"
        "the folder chosen on the Torvo service. The browser toolbar starts it; the arguments,\n"
        "joined with single spaces, are the fields separated by \";^;\". Work files and kept\n"
        "thumbnails are in ~/Torvo.\n"
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
  // whose first touches cost more than the work on them.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);

  // The start-up's own work (folder list, capture, thumbnail) touches no widget: it runs while
  // the toolkit starts on this thread, and the window waits for it before it is first shown.
  // The picture comes from the screen: the window in front.
  torvo::desktop::X11CaptureProvider capture;
  std::future<torvo::upload::Preparation> prepared =
      torvo::upload::StartPreparation(torvo::FromUtf8(commandLine), capture);
  // The labels are the first text shown, and the toolkit's font list starts with reading the
  // font configuration and its caches: read them meanwhile too.
  std::future<FcBool> fontConfiguration = std::async(std::launch::async, FcInit);

  int toolkitArgc = 1;
  QApplication app(toolkitArgc, argv);
  QApplication::setApplicationName("TorvoTool");
  QApplication::setDesktopFileName("org.torvo.TorvoTool");
  QApplication::setFont(QFont("NanumGothic", 9));

  fontConfiguration.wait();
  torvo::upload::FormUpload form;
  try {
    if (!form.Form_Load(prepared.get())) return 1;
  } catch (const torvo::TorvoError& e) {
    torvo::upload::Tell(torvo::FromUtf8(e.description()));
    return 1;
  } catch (const std::exception& e) {
    torvo::upload::Tell(torvo::FromUtf8(e.what()));
    return 1;
  }
  // The upload's reply unloads the form and ends the program with its status.
  form.Ended = [](int status) { QCoreApplication::exit(status); };
  form.show();
  return app.exec();
}
