// The yardstick of TorvoTool's start-up: the least a Qt program does to show a window (the same
// size as TorvoTool's unless told otherwise). Also serves as the page window in front.
//   minimal_window [--text] [WIDTHxHEIGHT] [TITLE]
// With --text the window holds one line of text in TorvoTool's font: the least any window with
// a word in it pays, the font configuration and the font list included, which the bare window
// never reads before it is shown.
#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QWidget>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  const bool text = argc > 1 && std::strcmp(argv[1], "--text") == 0;
  if (text) {
    --argc;
    ++argv;
  }
  int width = 520, height = 186;
  if (argc > 1) std::sscanf(argv[1], "%dx%d", &width, &height);
  int toolkitArgc = 1;
  QApplication app(toolkitArgc, argv);
  if (text) QApplication::setFont(QFont("NanumGothic", 9));
  QWidget window;
  window.setWindowTitle(argc > 2 ? argv[2] : "Minimal");
  window.resize(width, height);
  if (text) (new QLabel("보관할 페이지", &window))->move(10, 10);
  window.show();
  return app.exec();
}
