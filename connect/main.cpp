// torvo-connect: connects this user's Torvo programs to their own service once, by signing in
// for this device (or with a ToolbarID they have), checking it, and saving the connection.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

#include "connect/connect.h"
#include "platform/paths.h"
#include "torvo_version.h"

namespace {

constexpr char kUsage[] =
    "Usage: torvo-connect ADDRESS NAME [--certificate FILE] [--device NAME]\n"
    "       torvo-connect ADDRESS --toolbar-id [--certificate FILE]\n"
    "       torvo-connect --show | --forget\n"
    "Connects TorvoTool and TorvoSync to your own Torvo service at ADDRESS (http:// or https://,\n"
    "with its port and folder, e.g. https://example.org/torvo/): signs in as NAME for this device\n"
    "with the password read from the terminal (or the first line of standard input), checks the\n"
    "new identity and saves the connection. Nothing is saved when any step fails.\n"
    "\n"
    "      --certificate FILE  trust this PEM certificate (the server's own or its CA's) as well\n"
    "      --device NAME       the name the service lists this device under (default: host name)\n"
    "      --toolbar-id        take a ToolbarID from standard input instead of signing in\n"
    "      --show              print the connection (the identity shortened)\n"
    "      --forget            sign this device out at its service and remove the connection\n"
    "      --help              display this help and exit\n"
    "      --version           output version information and exit\n";

std::string FirstLine(std::istream& in) {
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool StdinIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

// The password from the terminal without echo, else the first line of standard input.
std::string ReadPassword(const std::string& prompt) {
  if (!StdinIsTerminal()) return FirstLine(std::cin);
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
#ifdef _WIN32
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  GetConsoleMode(input, &mode);
  SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  const std::string password = FirstLine(std::cin);
  SetConsoleMode(input, mode);
#else
  termios saved{};
  const bool haveTerminal = tcgetattr(STDIN_FILENO, &saved) == 0;
  if (haveTerminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const std::string password = FirstLine(std::cin);
  if (haveTerminal) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
#endif
  std::fputs("\n", stderr);
  return password;
}

std::string HostName() {
#ifdef _WIN32
  char name[256] = {};
  DWORD size = sizeof name;
  if (GetComputerNameA(name, &size)) return name;
#else
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0 && name[0]) return name;
#endif
  return "device";
}

int Usage(const std::string& problem) {
  std::fprintf(stderr, "torvo-connect: %s\nTry 'torvo-connect --help' for more information.\n", problem.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  std::string certificate;
  std::string device;
  bool toolbarId = false;
  bool show = false;
  bool forget = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("torvo-connect (Torvo) %s\n", TORVO_VERSION);
      return 0;
    }
    if (arg == "--certificate" || arg == "--device") {
      if (i + 1 >= argc) return Usage(arg + " needs a value");
      (arg == "--certificate" ? certificate : device) = argv[++i];
    } else if (arg == "--toolbar-id") {
      toolbarId = true;
    } else if (arg == "--show") {
      show = true;
    } else if (arg == "--forget") {
      forget = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      return Usage("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  const std::filesystem::path file = torvo::ConnectionFilePath();
  if (file.empty()) {
    std::fprintf(stderr, "torvo-connect: no home folder to keep the connection in (HOME is not set).\n");
    return 1;
  }
  if (show || forget) {
    if (show && forget) return Usage("--show and --forget do not go together");
    if (!positional.empty() || toolbarId || !certificate.empty() || !device.empty()) {
      return Usage(std::string(show ? "--show" : "--forget") + " takes nothing else");
    }
    if (show) {
      std::fputs(torvo::connect::Describe(torvo::ReadConnection(file), file).c_str(), stdout);
      return 0;
    }
    torvo::connect::CurlHttp http;
    std::string message;
    const bool removed = torvo::connect::Forget(http, file, &message);
    std::printf("%s\n", message.c_str());
    return removed ? 0 : 1;
  }
  if (positional.size() != (toolbarId ? 1u : 2u)) {
    return Usage(toolbarId ? "give the service's ADDRESS with --toolbar-id" : "give the service's ADDRESS and your NAME");
  }
  torvo::connect::CurlHttp http;
  torvo::connect::Result result;
  if (toolbarId) {
    if (StdinIsTerminal()) std::fputs("ToolbarID: ", stderr);
    const std::string id = FirstLine(std::cin);
    result = torvo::connect::ConnectWithToolbarId(http, positional[0], id, certificate, file);
  } else {
    torvo::connect::SignInRequest request;
    request.address = positional[0];
    request.name = positional[1];
    request.certificateFile = certificate;
    request.device = device.empty() ? HostName() : device;
    request.password = ReadPassword("Password for " + request.name + ": ");
    result = torvo::connect::ConnectWithPassword(http, request, file);
  }
  if (result.outcome == torvo::connect::Outcome::kSaved) {
    std::printf("%s\n", result.message.c_str());
    return 0;
  }
  std::fprintf(stderr, "torvo-connect: %s\n", result.message.c_str());
  return 1;
}
