// TorvoSync: downloads the images of the user's album that are missing from ~/Torvo/. The whole
// command line is the user's identity on the service.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/command_line.h"
#include "platform/error.h"
#include "platform/workfolder.h"
#include "sync/app/Syncfrm.h"
#include "sync/help_text.h"
#include "torvo_version.h"

int main(int argc, char** argv) {
  // The command line is the identity, so only a lone --help or --version is an option.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs(torvo::sync::VersionText(TORVO_VERSION).c_str(), stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(torvo::sync::HelpText("~/Torvo").c_str(), stdout);
    return 0;
  }
  // Taken before Qt sees the arguments: Qt removes the ones it knows, and the identity is all of them.
  const std::string commandLine = torvo::JoinArguments(argc, argv);
  torvo::SetProgramName("TorvoSync");
  QApplication app(argc, argv);

  torvo::sync::Syncfrm form({TORVO_SERVICE_HOST, torvo::FromUtf8(commandLine), torvo::WorkFolder(), {}});
  if (!form.Form_Load()) return 0;
  form.show();
  return app.exec();
}
