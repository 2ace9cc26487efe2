// TorvoTool: started by the browser toolbar once per page to keep, with the command line
// identity ";^;" address ";^;" title ";^;" percent-encoded note.
#include <malloc.h>

#include <QApplication>
#include <QFont>
#include <future>
#include <string>

#include "platform/codepage.h"
#include "platform/error.h"
#include "upload/app/FormUpload.h"

int main(int argc, char** argv) {
  // The command line is the arguments after the program's path, joined with single spaces. It
  // is the toolbar's text: none of it is an option for the toolkit.
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += ' ';
    commandLine += argv[i];
  }
  // Pictures of a few megabytes pass through one after the other (the capture, the files read
  // back): kept on the heap, each reuses the memory of the one before instead of fresh pages,
  // whose first touches cost more than the work on them.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);

  // The start-up's own work (folder list, capture, thumbnail) touches no widget: it runs while
  // the toolkit starts, and the window waits for it before it is first shown.
  std::future<torvo::upload::Preparation> prepared =
      std::async(std::launch::async, torvo::upload::PrepareStartUp, torvo::FromUtf8(commandLine));

  int toolkitArgc = 1;
  QApplication app(toolkitArgc, argv);
  QApplication::setApplicationName("TorvoTool");
  QApplication::setDesktopFileName("org.torvo.TorvoTool");
  QApplication::setFont(QFont("NanumGothic", 9));

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
  form.show();
  return app.exec();
}
