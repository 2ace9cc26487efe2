#include "platform/desktop/picture_handover.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/picture_handover.h"

namespace torvo {

namespace {

constexpr int kNeededSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE;

std::string ReadSealed(int fd, PictureBytes& png) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::string("넘겨 받은 파일 설명자를 읽을 수 없습니다 (") + std::strerror(errno) + ")";
  if (!S_ISREG(status.st_mode)) return "넘겨 받은 것이 메모리 파일이 아닙니다";
  int seals = ::fcntl(fd, F_GET_SEALS);
  if (seals < 0 || (seals & kNeededSeals) != kNeededSeals) return "넘겨 받은 메모리 파일이 봉인되어 있지 않습니다";
  if (status.st_size <= 0) return "그림이 비어 있습니다";
  if (static_cast<uint64_t>(status.st_size) > kMaxHandedOverPictureBytes) return "그림이 64 MiB보다 큽니다";
  // Sealed, its pages cannot change under the mapping: read where they are, until the picture is
  // let go. The descriptor can be closed meanwhile; the mapping keeps the memory.
  const size_t size = static_cast<size_t>(status.st_size);
  void* view = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) return "그림을 끝까지 읽을 수 없습니다";
  png = PictureBytes(std::shared_ptr<const void>(view, [size](const void* mapped) { ::munmap(const_cast<void*>(mapped), size); }),
                     std::string_view(static_cast<const char*>(view), size));
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
    picture.problem = "파일 설명자 번호가 올바르지 않습니다";
    return picture;
  }
  picture.problem = ReadSealed(fd, picture.png);
  ::close(fd);
  return picture;
}

}  // namespace torvo
