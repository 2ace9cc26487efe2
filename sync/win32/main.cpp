// TorvoSync on Windows: downloads the images of the user's album that are missing from
// C:\Torvo\. The whole command line is the user's identity on the service.
#include <windows.h>

#include <exception>
#include <optional>
#include <string>

#include "platform/codepage.h"
#include "platform/command_line.h"
#include "platform/error.h"
#include "platform/service_connection.h"
#include "platform/win32/window.h"
#include "platform/workfolder.h"
#include "sync/help_text.h"
#include "sync/win32/SyncWindow.h"
#include "torvo_version.h"

#ifndef TORVO_SERVICE_HOST
#error "TORVO_SERVICE_HOST must name the service's host[:port] (empty: none, a connection is needed)"
#endif

namespace {

void Show(const std::string& text) {
  const std::wstring title = torvo::win32::Wide(torvo::FromUtf8(torvo::ProgramName()));
  MessageBoxW(nullptr, torvo::win32::Wide(torvo::FromUtf8(text)).c_str(), title.c_str(), MB_OK | MB_SETFOREGROUND);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  torvo::SetProgramName("TorvoSync");
  // The identity is the text after the program's own token, kept as it was written: quotes in it
  // stay quotes (they are part of the identity, not grouping), and the spaces between words stay
  // as many as there were. For words written with single spaces and no quotes it is exactly the
  // text the Linux build joins from its arguments.
  const std::u16string commandLine = torvo::AfterProgramToken(torvo::win32::Narrow(GetCommandLineW()));
  // Only a lone --help or --version is an option; a window program shows them in a box.
  if (commandLine == u"--version") {
    Show(torvo::sync::VersionText(TORVO_VERSION));
    return 0;
  }
  if (commandLine == u"--help") {
    Show(torvo::sync::HelpText("C:\\Torvo\\"));
    return 0;
  }
  try {
    torvo::sync::SyncSessionSetup setup{TORVO_SERVICE_HOST, commandLine, torvo::WorkFolder(), {}};
    // The user's own service when they connected once; an identity on the command line still wins.
    torvo::sync::UseConnection(torvo::ReadConnection(torvo::ConnectionFilePath()), setup);
    // A build without a fixed service has nowhere to send an identity alone: the window says
    // how to connect instead.
    if (setup.serviceUrl.empty() && setup.serviceHost.empty()) setup.commandLine.clear();
    torvo::sync::SyncWindow form(std::move(setup));
    if (!form.Form_Load()) return 0;
    form.ShowWithoutFocus();
    return torvo::win32::RunMessageLoop(form.hwnd());
  } catch (const std::exception& e) {
    Show(e.what());
    return 1;
  }
}
