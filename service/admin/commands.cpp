#include "service/admin/commands.h"

#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "service/admin/backup.h"
#include "service/store/accounts.h"
#include "service/store/postgres_store.h"
#include "service/store/sqlite_store.h"
#include "service/wire/url.h"

namespace torvo::service {

namespace {

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

}  // namespace

int UserCommand(const Options& options, const std::string& action) {
  if (action == "list") {
    Expect(options, "user list", {}, 0);
    auto opened = Open(options);
    Store& store = *opened;
    for (const auto& user : store.Users()) {
      std::cout << Cell(user.name) << "\t" << (user.signedIn ? "signed in" : "signed out") << "\t"
                << (user.hasPassword ? "password" : "no password") << "\t" << Cell(user.identity) << "\n";
    }
    return 0;
  }
  if (action == "passwd") {
    Expect(options, "user passwd", {"password-file"}, 1);
    auto opened = Open(options);
    Store& store = *opened;
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
  auto opened = Open(options);
  Store& store = *opened;
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
    auto opened = Open(options);
    Store& store = *opened;
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
    auto opened = Open(options);
    Store& store = *opened;
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
  auto opened = Open(options);
  Store& store = *opened;
  User user = RequireUser(store, options.positional[0]);
  if (!store.RevokeDevice(user.id, *id)) throw StoreError(user.name + " has no device " + options.positional[1]);
  std::cout << "revoked device " << *id << " of " << user.name << "\n";
  return 0;
}

int FolderCommand(const Options& options, const std::string& action) {
  if (action == "add") {
    Expect(options, "folder add", {"number"}, 2);
    auto opened = Open(options);
    Store& store = *opened;
    User user = RequireUser(store, options.positional[0]);
    auto folder = store.AddFolder(user.identity, options.positional[1], options.number);
    std::cout << "added folder " << folder.number << " \"" << folder.name << "\" to " << options.positional[0] << "\n";
    return 0;
  }
  if (action != "list") throw UsageError("folder takes add or list");
  Expect(options, "folder list", {}, 1);
  auto opened = Open(options);
  Store& store = *opened;
  User user = RequireUser(store, options.positional[0]);
  std::cout << "0\t기본\n";
  for (const auto& folder : store.Folders(user.id)) std::cout << folder.number << "\t" << Cell(folder.name) << "\n";
  return 0;
}

int ImageCommand(const Options& options, const std::string& action) {
  if (action == "add") {
    Expect(options, "image add", {"name", "folder", "private", "url", "title", "note"}, 2, SIZE_MAX);
    if (options.name && options.positional.size() != 2) throw UsageError("--name goes with one file");
    auto opened = Open(options);
    Store& store = *opened;
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
  auto opened = Open(options);
  Store& store = *opened;
  User user = RequireUser(store, options.positional[0]);
  std::cout << "name\tuploaded\tfolder\tpublic\tbytes\turl\ttitle\tnote\n";
  for (const auto& image : store.Images(user.id)) {
    std::cout << Cell(image.name) << "\t" << image.uploaded << "\t" << image.folder << "\t"
              << (image.isPublic ? "P" : "S") << "\t" << image.size << "\t" << Cell(image.url) << "\t"
              << Cell(image.title) << "\t" << Cell(image.note) << "\n";
  }
  return 0;
}

int BackupCommand(const std::vector<std::string>& args, bool restore) {
  Options options = Parse(args);
  const char* command = restore ? "restore" : "backup";
  for (const auto& name : options.given) {
    if (name != "data") throw UsageError(std::string(command) + " does not take --" + name);
  }
  if (options.data.empty() || options.positional.size() != 1) {
    throw UsageError(restore ? "restore takes FILE and --data NEWDIR" : "backup takes --data DIR and FILE");
  }
  if (restore) {
    auto counts = Restore(options.positional[0], options.data);
    std::cout << "restored " << counts.entries << " entries and " << counts.pictures << " pictures into " << options.data << "\n";
    return 0;
  }
  auto counts = Backup(options.data, options.positional[0]);
  std::cout << "backed up " << counts.entries << " entries and " << counts.pictures << " pictures to " << options.positional[0] << "\n";
  if (counts.missingPictures) {
    std::cout << counts.missingPictures << " entries were deleted during the backup and are kept without their picture\n";
  }
  return 0;
}

int MigrateCommand(const std::vector<std::string>& args) {
  Options options = Parse(args);
  for (const auto& name : options.given) {
    if (name != "data" && name != "database") throw UsageError("migrate does not take --" + name);
  }
  if (options.data.empty() || options.database.empty() || !options.positional.empty()) {
    throw UsageError("migrate takes --data DIR and --database URL");
  }
  if (!std::filesystem::exists(std::filesystem::path(options.data) / "torvo.sqlite")) {
    throw StoreError("no data folder at " + options.data + " (no torvo.sqlite)");
  }
  SqliteStore from(options.data);
  PostgresStore to(options.database);
  std::cerr << "torvo-service: copying " << from.Describe() << " to " << to.Describe() << "\n";
  auto copied = to.CopyFrom(from);
  std::cout << "moved " << copied.users << " users, " << copied.devices << " devices, " << copied.folders << " folders, " << copied.entries << " entries, "
            << copied.pictures << " pictures, " << copied.sessions << " sessions\n";
  if (copied.missingPictures) {
    std::cout << copied.missingPictures << " entries had lost their picture file and are kept without one\n";
  }
  return 0;
}

}  // namespace torvo::service
