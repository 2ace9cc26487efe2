// torvo-service: the web service and its command-line administration.
#include <getopt.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "service/accounts.h"
#include "service/faults.h"
#include "service/service.h"
#include "service/store.h"
#include "service/url.h"
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

  torvo-service --help | --version
)";

struct Options {
  std::string data;
  std::optional<int> port;
  std::string bind = "127.0.0.1";
  std::string uploadHost;
  std::string imageBase;
  std::string publicAddress;
  std::string device;
  std::vector<std::string> faults;
  std::string readyFile;
  std::optional<int32_t> number;
  std::optional<std::string> name;
  std::optional<int32_t> folder;
  bool isPrivate = false;
  std::string url, title, note;
  std::optional<std::string> toolbarId;
  std::optional<std::string> passwordFile;
  std::vector<std::string> positional;
  std::vector<std::string> given;  // long names of the options on the command line
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int32_t Number(const char* option, const char* text) {
  auto value = ParseInt32(text);
  if (!value) throw UsageError(std::string("--") + option + " takes a whole number");
  return *value;
}

Options Parse(std::vector<std::string> args) {
  static const option kOptions[] = {
      {"data", required_argument, nullptr, 'd'},        {"port", required_argument, nullptr, 'p'},
      {"bind", required_argument, nullptr, 'b'},        {"upload-host", required_argument, nullptr, 'u'},
      {"image-base", required_argument, nullptr, 'i'},  {"fault", required_argument, nullptr, 'f'},
      {"ready-file", required_argument, nullptr, 'r'},  {"number", required_argument, nullptr, 'n'},
      {"name", required_argument, nullptr, 'N'},        {"folder", required_argument, nullptr, 'F'},
      {"private", no_argument, nullptr, 'P'},           {"url", required_argument, nullptr, 'U'},
      {"title", required_argument, nullptr, 'T'},       {"note", required_argument, nullptr, 'O'},
      {"toolbar-id", required_argument, nullptr, 'I'},  {"password-file", required_argument, nullptr, 'W'},
      {"public-address", required_argument, nullptr, 'A'}, {"device", required_argument, nullptr, 'D'},
      {nullptr, 0, nullptr, 0}};
  std::vector<char*> argv;
  std::string program = "torvo-service";
  argv.push_back(program.data());
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  Options options;
  optind = 0;  // restart GNU getopt
  opterr = 0;
  int index = -1;
  for (int c; (c = getopt_long(static_cast<int>(argv.size() - 1), argv.data(), "", kOptions, &index)) != -1;) {
    if (c == '?' || c == ':') throw UsageError("unknown option or missing value: " + std::string(argv[optind - 1]));
    for (const auto& entry : kOptions) {
      if (entry.val == c) options.given.push_back(entry.name);
    }
    switch (c) {
      case 'd': options.data = optarg; break;
      case 'p': {
        int32_t port = Number("port", optarg);
        if (port < 0 || port > 65535) throw UsageError("--port takes 0 to 65535");
        options.port = port;
        break;
      }
      case 'b': options.bind = optarg; break;
      case 'u': options.uploadHost = optarg; break;
      case 'i': options.imageBase = optarg; break;
      case 'f': options.faults.push_back(optarg); break;
      case 'r': options.readyFile = optarg; break;
      case 'n': options.number = Number("number", optarg); break;
      case 'N': options.name = optarg; break;
      case 'F': options.folder = Number("folder", optarg); break;
      case 'P': options.isPrivate = true; break;
      case 'U': options.url = optarg; break;
      case 'T': options.title = optarg; break;
      case 'O': options.note = optarg; break;
      case 'I': options.toolbarId = optarg; break;
      case 'W': options.passwordFile = optarg; break;
      case 'A': options.publicAddress = optarg; break;
      case 'D': options.device = optarg; break;
    }
  }
  for (int i = optind; i < static_cast<int>(argv.size() - 1); ++i) options.positional.push_back(argv[i]);
  return options;
}

// Refuses options the command does not take and a wrong number of arguments.
void Expect(const Options& options, const std::string& command, std::vector<std::string> allowed, size_t arguments,
            size_t mostArguments = 0) {
  mostArguments = std::max(arguments, mostArguments);
  allowed.push_back("data");
  for (const auto& name : options.given) {
    if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
      throw UsageError(command + " does not take --" + name);
    }
  }
  if (options.data.empty()) throw UsageError(command + " needs --data DIR");
  if (options.positional.size() < arguments || options.positional.size() > mostArguments) {
    throw UsageError(command + " takes " + std::to_string(arguments) + (mostArguments > arguments ? " or more" : "") +
                     " argument" + (arguments == 1 ? "" : "s"));
  }
}

// Text for one cell of a tab-separated listing.
std::string Cell(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

// Commands name users by the name they sign in with (for users from before the web page, their
// identity).
User RequireUser(Store& store, const std::string& name) {
  auto user = store.FindUserByName(name);
  if (!user) throw StoreError("no user " + name);
  return *user;
}

// The password from the first line of a file ("-": standard input) or asked twice on the
// terminal without echo; nothing when there is neither.
std::optional<std::string> ReadPassword(const Options& options) {
  std::string password;
  if (options.passwordFile) {
    if (*options.passwordFile == "-") {
      std::getline(std::cin, password);
    } else {
      std::ifstream file(*options.passwordFile);
      if (!file) throw StoreError("cannot read " + *options.passwordFile);
      std::getline(file, password);
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
  } else {
    if (!isatty(STDIN_FILENO)) return std::nullopt;
    auto ask = [](const char* prompt) {
      std::cerr << prompt << std::flush;
      termios old{};
      tcgetattr(STDIN_FILENO, &old);
      termios quiet = old;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
      std::string line;
      std::getline(std::cin, line);
      tcsetattr(STDIN_FILENO, TCSANOW, &old);
      std::cerr << "\n";
      return line;
    };
    password = ask("Password: ");
    if (ask("Password again: ") != password) throw StoreError("the two passwords differ");
  }
  if (password.size() < 8) throw StoreError("a password needs at least 8 characters");
  return password;
}

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
  Store store(options.data);
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
  std::cerr << "torvo-service: data " << options.data << ", upload host " << service.UploadHost()
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

int UserCommand(const Options& options, const std::string& action) {
  if (action == "list") {
    Expect(options, "user list", {}, 0);
    Store store(options.data);
    for (const auto& user : store.Users()) {
      std::cout << Cell(user.name) << "\t" << (user.signedIn ? "signed in" : "signed out") << "\t"
                << (user.hasPassword ? "password" : "no password") << "\t" << Cell(user.identity) << "\n";
    }
    return 0;
  }
  if (action == "passwd") {
    Expect(options, "user passwd", {"password-file"}, 1);
    Store store(options.data);
    User user = RequireUser(store, options.positional[0]);
    auto password = ReadPassword(options);
    if (!password) throw StoreError("user passwd reads the password from the terminal or from --password-file");
    store.SetPasswordHash(user.id, HashPassword(*password));
    std::cout << "set the password of " << user.name << "\n";
    return 0;
  }
  if (action != "add" && action != "signout" && action != "signin") {
    throw UsageError("user takes add, passwd, signout, signin or list");
  }
  Expect(options, "user " + action, action == "add" ? std::vector<std::string>{"toolbar-id", "password-file"}
                                                    : std::vector<std::string>{}, 1);
  Store store(options.data);
  const std::string& name = options.positional[0];
  if (action == "add") {
    if (store.FindUserByName(name)) throw StoreError("the user " + name + " exists already");
    auto password = ReadPassword(options);
    User user = store.AddAccount(name, options.toolbarId.value_or(RandomToken()));
    if (password) store.SetPasswordHash(user.id, HashPassword(*password));
    std::cout << "added user " << name << "\n";
    std::cout << "ToolbarID " << user.identity << "\n";
    if (!password) std::cout << "no password: the web page cannot be signed in to until \"user passwd\"\n";
  } else {
    User user = RequireUser(store, name);
    store.SetSignedIn(user.identity, action == "signin");
    std::cout << name << (action == "signin" ? " signed in" : " signed out") << "\n";
  }
  return 0;
}

int DeviceCommand(const Options& options, const std::string& action) {
  if (action == "list") {
    Expect(options, "device list", {}, 1);
    Store store(options.data);
    User user = RequireUser(store, options.positional[0]);
    auto time = [](std::time_t when) {
      if (when == 0) return std::string("never");
      std::tm parts{};
      localtime_r(&when, &parts);
      char text[32];
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
      return std::string(text);
    };
    std::cout << "id\tdevice\tcreated\tlast used\tToolbarID\n";
    for (const auto& device : store.Devices(user.id)) {
      std::cout << device.id << "\t" << Cell(device.name) << "\t" << time(device.created) << "\t" << time(device.lastUsed)
                << "\t" << Cell(device.toolbarId) << "\n";
    }
    return 0;
  }
  if (action == "add") {
    Expect(options, "device add", {"device"}, 1);
    Store store(options.data);
    User user = RequireUser(store, options.positional[0]);
    Device device = store.AddDevice(user.id, options.device, RandomToken());
    std::cout << "added device " << device.id << " \"" << device.name << "\" to " << user.name << "\n";
    std::cout << "ToolbarID " << device.toolbarId << "\n";
    return 0;
  }
  if (action != "revoke") throw UsageError("device takes list, add or revoke");
  Expect(options, "device revoke", {}, 2);
  auto id = ParseInt32(options.positional[1]);
  if (!id) throw UsageError("device revoke takes the device's id (device list shows it)");
  Store store(options.data);
  User user = RequireUser(store, options.positional[0]);
  if (!store.RevokeDevice(user.id, *id)) throw StoreError(user.name + " has no device " + options.positional[1]);
  std::cout << "revoked device " << *id << " of " << user.name << "\n";
  return 0;
}

int FolderCommand(const Options& options, const std::string& action) {
  if (action == "add") {
    Expect(options, "folder add", {"number"}, 2);
    Store store(options.data);
    User user = RequireUser(store, options.positional[0]);
    auto folder = store.AddFolder(user.identity, options.positional[1], options.number);
    std::cout << "added folder " << folder.number << " \"" << folder.name << "\" to " << options.positional[0] << "\n";
    return 0;
  }
  if (action != "list") throw UsageError("folder takes add or list");
  Expect(options, "folder list", {}, 1);
  Store store(options.data);
  User user = RequireUser(store, options.positional[0]);
  std::cout << "0\t기본\n";
  for (const auto& folder : store.Folders(user.id)) std::cout << folder.number << "\t" << Cell(folder.name) << "\n";
  return 0;
}

int ImageCommand(const Options& options, const std::string& action) {
  if (action == "add") {
    Expect(options, "image add", {"name", "folder", "private", "url", "title", "note"}, 2, SIZE_MAX);
    if (options.name && options.positional.size() != 2) throw UsageError("--name goes with one file");
    Store store(options.data);
    User user = RequireUser(store, options.positional[0]);
    NewImage fields;
    fields.folder = options.folder.value_or(0);
    if (fields.folder != 0 && !store.HasFolder(user.id, fields.folder)) {
      throw StoreError("folder " + std::to_string(fields.folder) + " is not one of the user's folders");
    }
    fields.isPublic = !options.isPrivate;
    fields.url = options.url;
    fields.title = options.title;
    fields.note = options.note;
    for (size_t i = 1; i < options.positional.size(); ++i) {
      // Stored as it is: tests may want the album to hold a file that is not a picture.
      std::ifstream file(options.positional[i], std::ios::binary);
      if (!file) throw StoreError("cannot read " + options.positional[i]);
      std::string png((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      Image image = options.name ? store.AddNamedImage(user.id, *options.name, fields, png)
                                 : store.AddImage(user.id, fields, png);
      std::cout << image.name << "\n";
    }
    return 0;
  }
  if (action != "list") throw UsageError("image takes add or list");
  Expect(options, "image list", {}, 1);
  Store store(options.data);
  User user = RequireUser(store, options.positional[0]);
  std::cout << "name\tuploaded\tfolder\tpublic\tbytes\turl\ttitle\tnote\n";
  for (const auto& image : store.Images(user.id)) {
    std::cout << Cell(image.name) << "\t" << image.uploaded << "\t" << image.folder << "\t"
              << (image.isPublic ? "P" : "S") << "\t" << image.size << "\t" << Cell(image.url) << "\t"
              << Cell(image.title) << "\t" << Cell(image.note) << "\n";
  }
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
