// The yardstick of TorvoTool's start-up: the least a Qt program does to show a window (the same
// size as TorvoTool's unless told otherwise). Also serves as the page window in front.
//   minimal_window [WIDTHxHEIGHT] [TITLE]
#include <QApplication>
#include <QWidget>
#include <cstdio>

int main(int argc, char** argv) {
  int width = 520, height = 186;
  if (argc > 1) std::sscanf(argv[1], "%dx%d", &width, &height);
  int toolkitArgc = 1;
  QApplication app(toolkitArgc, argv);
  QWidget window;
  window.setWindowTitle(argc > 2 ? argv[2] : "Minimal");
  window.resize(width, height);
  window.show();
  return app.exec();
}
