#include "toolbar/host/launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>

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

std::string StartDetached(const std::filesystem::path& program, const std::string& argument) {
  // A pipe carries the spawn's outcome from the middle process, which ends at once so that the
  // program is nobody's child here and is not ended with the host.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return std::string("no pipe: ") + std::strerror(errno);

  pid_t middle = ::fork();
  if (middle < 0) {
    int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    return std::string("cannot fork: ") + std::strerror(error);
  }
  if (middle == 0) {
    ::close(report[0]);
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
    int result = ::posix_spawn(&child, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ssize_t ignored = ::write(report[1], &result, sizeof result);
    (void)ignored;
    ::_exit(0);
  }
  ::close(report[1]);
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
