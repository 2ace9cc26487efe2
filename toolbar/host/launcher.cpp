#include "toolbar/host/launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>

#include <vector>

#include "platform/picture_handover.h"
#include "platform/text.h"

extern char** environ;

namespace torvo::toolbar {

namespace {

constexpr char kProgramName[] = "TorvoTool";

bool IsExecutableFile(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::filesystem::path> FindTorvoTool() {
  if (const char* override = std::getenv(kTorvoToolVariable); override && *override) {
    return std::filesystem::path(override);
  }
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    std::filesystem::path beside = self.parent_path() / kProgramName;
    if (IsExecutableFile(beside)) return beside;
  }
  if (const char* path = std::getenv("PATH")) {
    for (const auto& folder : SplitFields(std::string_view(path), std::string_view(":"))) {
      if (folder.empty()) continue;  // an empty entry would mean the browser's working folder
      std::filesystem::path candidate = std::filesystem::path(folder) / kProgramName;
      if (IsExecutableFile(candidate)) return candidate;
    }
  }
  return std::nullopt;
}

int SealedMemoryFile(std::string_view bytes) {
  int fd = ::memfd_create("torvo-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return -1;
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = n < 0 ? errno : EIO;
      ::close(fd);
      errno = error;
      return -1;
    }
    bytes.remove_prefix(size_t(n));
  }
  // From here on nobody, TorvoTool included, can change a byte of it or its size.
  if (::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::optional<Refusal> CheckLineFits(const std::filesystem::path&, const std::string&) { return std::nullopt; }

std::string StartDetached(const std::filesystem::path& program, const std::string& argument,
                          std::string_view picture) {
  int pictureFd = -1;
  if (!picture.empty()) {
    pictureFd = SealedMemoryFile(picture);
    if (pictureFd < 0) return std::string("the picture could not be handed over: ") + std::strerror(errno);
  }
  // The environment as it is, but the descriptor variable only as this start sets it: one the
  // browser happened to have would name a descriptor of nobody's choosing.
  const std::string variablePrefix = std::string(kPictureDescriptorVariable) + "=";
  std::vector<std::string> ownEntries;
  std::vector<char*> environment;
  for (char** entry = environ; *entry; ++entry) {
    if (std::string_view(*entry).starts_with(variablePrefix)) continue;
    environment.push_back(*entry);
  }
  if (pictureFd >= 0) ownEntries.push_back(variablePrefix + std::to_string(pictureFd));
  for (auto& entry : ownEntries) environment.push_back(entry.data());
  environment.push_back(nullptr);

  // A pipe carries the spawn's outcome from the middle process, which ends at once so that the
  // program is nobody's child here and is not ended with the host.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    int error = errno;
    if (pictureFd >= 0) ::close(pictureFd);
    return std::string("no pipe: ") + std::strerror(error);
  }

  pid_t middle = ::fork();
  if (middle < 0) {
    int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    if (pictureFd >= 0) ::close(pictureFd);
    return std::string("cannot fork: ") + std::strerror(error);
  }
  if (middle == 0) {
    ::close(report[0]);
    // Only the program started here inherits the picture.
    if (pictureFd >= 0) ::fcntl(pictureFd, F_SETFD, 0);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_init(&attributes);
    // The program gets default signal handling and no blocked signals, whatever the host has.
    sigset_t signals;
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::string path = program.string();
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(argument.c_str()), nullptr};
    pid_t child;
    int result = ::posix_spawn(&child, path.c_str(), &actions, &attributes, argv, environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ssize_t ignored = ::write(report[1], &result, sizeof result);
    (void)ignored;
    ::_exit(0);
  }
  ::close(report[1]);
  // TorvoTool holds its own copy now; the memory goes when it closes that.
  if (pictureFd >= 0) ::close(pictureFd);
  int result = -1;
  ssize_t n;
  do {
    n = ::read(report[0], &result, sizeof result);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
  }
  if (n != sizeof result) return "the start of " + program.string() + " was not reported";
  if (result != 0) return program.string() + ": " + std::strerror(result);
  return {};
}

}  // namespace torvo::toolbar
