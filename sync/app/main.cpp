// TorvoSync: downloads the images of the user's album that are missing from ~/Torvo/. The whole
// command line is the user's identity on the service.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/command_line.h"
#include "platform/error.h"
#include "platform/service_connection.h"
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

  torvo::sync::SyncSessionSetup setup{TORVO_SERVICE_HOST, torvo::FromUtf8(commandLine), torvo::WorkFolder(), {}};
  // The user's own service when they connected once; an identity on the command line still wins.
  torvo::sync::UseConnection(torvo::ReadConnection(torvo::ConnectionFilePath()), setup);
  // With nobody to sync for, the window says how to connect before Sync is pressed.
  const bool nobody = setup.commandLine.empty();
  const std::string problem = setup.connectionProblem;
  torvo::sync::Syncfrm form(std::move(setup));
  if (!form.Form_Load()) return 0;
  form.show();
  if (nobody) {
    form.ShowNotice(torvo::sync::NotConnectedText(problem));
  }
  return app.exec();
}
