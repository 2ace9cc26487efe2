// torvo-service: the web service and its command-line administration.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "service/admin/commands.h"
#include "service/admin/options.h"
#include "service/exchanges/faults.h"
#include "service/exchanges/service.h"
#include "service/wire/url.h"
#include "torvo_version.h"

namespace {

using namespace torvo::service;

constexpr const char* kUsage = R"(Usage: torvo-service [COMMAND] [OPTION]...
The Torvo web service: the exchanges of TorvoTool and TorvoSync and the web page where a user
finds, searches and manages what they kept, on one port.

Serving (the default command):
  torvo-service [serve] --data DIR [--port P] [--bind ADDRESS] [--upload-host HOST]
                [--image-base URL] [--public-address URL] [--fault FAULT]... [--ready-file FILE]

    --data DIR          users, folders and images: DIR/torvo.sqlite and DIR/images/ (created)
    --database URL      or all of it in PostgreSQL: a postgresql:// URL or a libpq connection
                        string (also from TORVO_DATABASE when neither is given); any number of
                        service processes may share one database
    --port P            TCP port (default 8765; 0 picks a free one)
    --bind ADDRESS      address to listen on (default 127.0.0.1)
    --upload-host HOST  upload host named in the folder list (default: the bound address)
    --image-base URL    start of the image list's base address (default http://ADDRESS:PORT)
    --public-address URL  the address users enter in their programs when a proxy stands in
                        front (e.g. https://example.org/torvo/): shown on the settings page, and
                        the default of --upload-host (its host) and --image-base (URL without
                        its last "/")
    --fault FAULT       inject a fault, e.g. download:drop or upload:split=3,pause=200
                        (see README.md; change them at run time on /admin/faults)
    --ready-file FILE   write ADDRESS:PORT to FILE once the port is bound

  Prints "listening on ADDRESS:PORT" when ready, one line per request on stderr, and stops
  cleanly on Ctrl-C or SIGTERM. The web page is at http://ADDRESS:PORT/.

Administration (works while the service runs):
  torvo-service user add|signout|signin --data DIR IDENTITY
  torvo-service user add --data DIR NAME [--toolbar-id ID] [--password-file FILE]
  torvo-service user passwd --data DIR NAME [--password-file FILE]
  torvo-service user list --data DIR
  torvo-service device list --data DIR NAME
  torvo-service device add --data DIR NAME [--device DEVICE]
  torvo-service device revoke --data DIR NAME ID

  A device is a ToolbarID of its own that a program got by signing in with the user's name and
  password; "device revoke" signs that device out alone. "device add" issues one (scripts).

  "user add" gives the user a random ToolbarID unless --toolbar-id names one, and a password
  for the web page, asked on the terminal or read from the first line of FILE ("-": standard
  input). Without a terminal or a file the user has no password: the exchanges work, the web
  page cannot be signed in to until "user passwd". signout, signin, folder and image commands
  name the user by NAME.
  torvo-service folder add --data DIR IDENTITY NAME [--number N]
  torvo-service folder list --data DIR IDENTITY
  torvo-service image list --data DIR IDENTITY
  torvo-service image add --data DIR IDENTITY FILE... [--name NAME] [--folder N] [--private]
                [--url URL] [--title TITLE] [--note NOTE]

  "image add" stores each file as it is, named as an upload would be (14 digits), or with
  --name (one file) under any name without "|" or control characters, to try the clients.

  Every command takes --database URL in place of --data DIR.

Backups of a data folder, while the service runs:
  torvo-service backup --data DIR FILE
  torvo-service restore FILE --data NEWDIR

  "backup" writes the database as it was at one moment and the pictures its entries name into
  one file; "restore" unpacks it into a new, empty folder. (On PostgreSQL: pg_dump.)

Moving over to PostgreSQL:
  torvo-service migrate --data DIR --database URL

  Copies users, sessions, folders, entries and pictures into an empty PostgreSQL database in
  one transaction and reports the counts.

  torvo-service --help | --version
)";

int Serve(const Options& options) {
  Expect(options, "serve", {"port", "bind", "upload-host", "image-base", "public-address", "fault", "ready-file"}, 0);
  std::string publicAddress;
  if (options.given.end() != std::find(options.given.begin(), options.given.end(), "public-address")) {
    auto address = ParsePublicAddress(options.publicAddress);
    if (!address) {
      throw UsageError("--public-address takes an http:// or https:// address with a host, e.g. https://example.org/torvo/");
    }
    publicAddress = address->url;
  }
  FaultBoard faults;
  for (const auto& text : options.faults) {
    FaultParse parsed = ParseFault(text);
    if (!parsed.fault) throw UsageError(parsed.error);
    faults.Add(*parsed.fault);
  }
  auto opened = Open(options);
  Store& store = *opened;
  ServiceOptions serviceOptions;
  serviceOptions.bindAddress = options.bind;
  serviceOptions.port = options.port.value_or(8765);
  serviceOptions.uploadHost = options.uploadHost;
  serviceOptions.imageBase = options.imageBase;
  serviceOptions.publicAddress = publicAddress;

  // Signals are taken by one thread; every other thread, the HTTP workers included, blocks them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Service service(store, faults, serviceOptions, &std::cerr);
  int port = service.Bind();
  if (port < 0) {
    std::cerr << "torvo-service: cannot listen on " << options.bind << ":" << serviceOptions.port << "\n";
    return 1;
  }
  std::string address = options.bind + ":" + std::to_string(port);
  if (!options.readyFile.empty()) {
    std::string temporary = options.readyFile + ".part";
    std::ofstream(temporary) << address << "\n";
    std::filesystem::rename(temporary, options.readyFile);
  }
  std::cerr << "torvo-service: data " << store.Describe() << ", upload host " << service.UploadHost()
            << ", image base " << service.ImageBase() << "\n";
  for (const auto& fault : faults.List()) std::cerr << "torvo-service: fault " << FormatFault(fault) << "\n";
  std::cout << "listening on " << address << std::endl;

  std::atomic<bool> running{true};
  std::thread waiter([&] {
    int received = 0;
    sigwait(&signals, &received);
    if (received != SIGUSR1) std::cerr << "torvo-service: stopping (" << strsignal(received) << ")\n";
    // Repeated: a signal that comes while the service is still starting must not be lost.
    while (running) {
      service.Stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  service.Run();
  running = false;
  pthread_kill(waiter.native_handle(), SIGUSR1);
  waiter.join();
  std::cerr << "torvo-service: stopped\n";
  return 0;
}

}  // namespace


int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    bool help = std::find(args.begin(), args.end(), "--help") != args.end();
    if (help || (!args.empty() && (args[0] == "-h" || args[0] == "help"))) {
      std::cout << kUsage;
      return 0;
    }
    if (!args.empty() && args[0] == "--version") {
      std::cout << "torvo-service (Torvo) " << TORVO_VERSION << "\n";
      return 0;
    }
    std::string command = args.empty() || args[0].starts_with("-") ? "serve" : args[0];
    if (!args.empty() && !args[0].starts_with("-")) args.erase(args.begin());
    if (command == "serve") return Serve(Parse(args));
    if (command == "migrate") return MigrateCommand(args);
    if (command == "backup" || command == "restore") return BackupCommand(args, command == "restore");
    if (command != "user" && command != "folder" && command != "image" && command != "device") {
      throw UsageError("unknown command " + command);
    }
    if (args.empty() || args[0].starts_with("-")) throw UsageError(command + " needs an action");
    std::string action = args[0];
    args.erase(args.begin());
    Options options = Parse(args);
    if (command == "user") return UserCommand(options, action);
    if (command == "folder") return FolderCommand(options, action);
    if (command == "device") return DeviceCommand(options, action);
    return ImageCommand(options, action);
  } catch (const UsageError& error) {
    std::cerr << "torvo-service: " << error.what() << "\n(torvo-service --help shows the commands)\n";
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "torvo-service: " << error.what() << "\n";
    return 1;
  }
}
