// TorvoTool's window with nothing behind it: the same program libraries, the same font and
// controls, but no folder list, capture or thumbnail. Its start-up is the least TorvoTool's can
// be with the libraries it is built on; the start-up benchmark measures it beside both.
#include <QApplication>
#include <QFont>

#include "upload/app/FormUpload.h"

int main(int, char** argv) {
  int toolkitArgc = 1;
  QApplication app(toolkitArgc, argv);
  QApplication::setFont(QFont("NanumGothic", 9));
  torvo::upload::FormUpload form;
  form.show();
  return app.exec();
}
