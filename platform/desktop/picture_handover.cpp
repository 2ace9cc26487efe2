#include "platform/desktop/picture_handover.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/picture_handover.h"

namespace torvo::desktop {

namespace {

constexpr int kNeededSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE;

std::string ReadSealed(int fd, std::string& png) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::string("the descriptor cannot be read (") + std::strerror(errno) + ")";
  if (!S_ISREG(status.st_mode)) return "the descriptor is not a memory file";
  int seals = ::fcntl(fd, F_GET_SEALS);
  if (seals < 0 || (seals & kNeededSeals) != kNeededSeals) return "the memory file is not sealed";
  if (status.st_size <= 0) return "the picture is empty";
  if (static_cast<uint64_t>(status.st_size) > kMaxHandedOverPictureBytes) return "the picture is too large";
  png.resize(static_cast<size_t>(status.st_size));
  size_t got = 0;
  while (got < png.size()) {
    ssize_t n = ::pread(fd, png.data() + got, png.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      png.clear();
      return "the picture could not be read";
    }
    got += static_cast<size_t>(n);
  }
  return {};
}

}  // namespace

HandedOverPicture TakeHandedOverPicture() {
  HandedOverPicture picture;
  const char* value = std::getenv(kPictureDescriptorVariable);
  if (!value) return picture;
  picture.handedOver = true;
  const std::string_view text(value);
  int fd = -1;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), fd);
  ::unsetenv(kPictureDescriptorVariable);  // `value` is not used after this
  // Standard input and output are the host's /dev/null, never the picture.
  if (error != std::errc() || end != text.data() + text.size() || text.empty() || fd < 2) {
    picture.problem = "the descriptor number is not valid";
    return picture;
  }
  picture.problem = ReadSealed(fd, picture.png);
  ::close(fd);
  return picture;
}

}  // namespace torvo::desktop
