#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/service_connection.h"

namespace torvo {

std::filesystem::path ConnectionFilePath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // A relative XDG_CONFIG_HOME is to be ignored, as the base directory rules say.
  if (config && config[0] == '/') return std::filesystem::path(config) / "torvo" / "connection";
  const char* home = std::getenv("HOME");
  if (!home || !*home) return {};
  return std::filesystem::path(home) / ".config" / "torvo" / "connection";
}

std::optional<std::string> CreatePrivateFile(const std::filesystem::path& file, std::string_view bytes) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return std::strerror(errno);
  for (size_t written = 0; written < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      return std::strerror(error);
    }
    written += static_cast<size_t>(n);
  }
  // The rename that follows must not make a file whose content is still on its way.
  if (::fsync(fd) != 0 || ::close(fd) != 0) return std::strerror(errno);
  return std::nullopt;
}

}  // namespace torvo
