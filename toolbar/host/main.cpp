// torvo-toolbar-host: the browser starts it for the Torvo extension and talks to it over standard
// input and output; it starts TorvoTool for the page in front.
#include <signal.h>
#include <unistd.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cstdio>
#include <cstring>

#include "platform/service_connection.h"
#include "toolbar/host/host.h"
#include "toolbar/host/launcher.h"
#include "torvo_version.h"

int main(int argc, char** argv) {
  // The browser passes the extension's origin (or manifest path and ID) as arguments; only a
  // lone --help or --version from a person is answered here.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("torvo-toolbar-host (Torvo) %s\n", TORVO_VERSION);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf(
        "Usage: torvo-toolbar-host [ORIGIN...]\n"
        "The native-messaging host of the Torvo browser extension: the browser starts it and\n"
        "sends each page to keep as a length-prefixed JSON message on standard input; the host\n"
        "starts TorvoTool for it and answers on standard output. Not meant to be run by hand.\n"
        "\n"
        "TorvoTool is looked for beside this program, then on PATH; the environment variable\n"
        "%s names another program instead (for tests).\n"
        "\n"
        "      --help     display this help and exit\n"
        "      --version  output version information and exit\n",
        torvo::toolbar::kTorvoToolVariable);
    return 0;
  }
#ifdef _WIN32
  // The frames are bytes: in text mode a 0x0A of a length or a message would turn into CR LF, and
  // a 0x1A would end the input.
  _setmode(STDIN_FILENO, _O_BINARY);
  _setmode(STDOUT_FILENO, _O_BINARY);
#else
  // The browser closing its end must end the host through a failed write, not a signal.
  ::signal(SIGPIPE, SIG_IGN);
#endif
  torvo::toolbar::FdSource input(STDIN_FILENO);
  torvo::toolbar::FdSink output(STDOUT_FILENO);
  torvo::toolbar::DetachedToolStarter starter;
  torvo::toolbar::HttpServiceConnector connector;
  torvo::toolbar::ConnectionPlace place{&connector, torvo::ConnectionFilePath()};
  return torvo::toolbar::RunHost(input, output, starter, place);
}
