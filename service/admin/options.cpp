#include "service/admin/options.h"

#include <getopt.h>

#include <algorithm>
#include <cstdlib>

#include "service/wire/url.h"

namespace torvo::service {

namespace {

int32_t Number(const char* option, const char* text) {
  auto value = ParseInt32(text);
  if (!value) throw UsageError(std::string("--") + option + " takes a whole number");
  return *value;
}

}  // namespace

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
      {"database", required_argument, nullptr, 'B'},
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
      case 'B': options.database = optarg; break;
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
  // Units and containers name the database in the environment; --data still means the embedded store.
  if (options.database.empty() && options.data.empty()) {
    if (const char* url = std::getenv("TORVO_DATABASE"); url && *url) options.database = url;
  }
  return options;
}

void Expect(const Options& options, const std::string& command, std::vector<std::string> allowed, size_t arguments,
            size_t mostArguments) {
  mostArguments = std::max(arguments, mostArguments);
  allowed.push_back("data");
  allowed.push_back("database");
  for (const auto& name : options.given) {
    if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
      throw UsageError(command + " does not take --" + name);
    }
  }
  if (!options.data.empty() && !options.database.empty()) {
    throw UsageError(command + " takes --data DIR or --database URL, not both");
  }
  if (options.data.empty() && options.database.empty()) {
    throw UsageError(command + " needs --data DIR or --database URL (or TORVO_DATABASE)");
  }
  if (options.positional.size() < arguments || options.positional.size() > mostArguments) {
    throw UsageError(command + " takes " + std::to_string(arguments) + (mostArguments > arguments ? " or more" : "") +
                     " argument" + (arguments == 1 ? "" : "s"));
  }
}


std::unique_ptr<Store> Open(const Options& options) {
  return OpenStore(StoreLocation{options.data, options.database});
}


}  // namespace torvo::service
