#include "sync/album_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/workfolder.h"

namespace torvo::sync {

namespace {
constexpr std::string_view kTemporaryPrefix = ".TorvoSync-";
constexpr std::string_view kTemporarySuffix = ".part";

std::string SystemErrorText(int error) { return std::strerror(error); }
}  // namespace

bool FileExists(const std::filesystem::path& fileName) {
  std::optional<std::filesystem::path> found = FindNoCase(fileName.parent_path(), fileName.filename().string());
  if (!found) return false;
  std::error_code ec;
  return !std::filesystem::is_directory(*found, ec) && !ec;
}

AlbumFolder::AlbumFolder(std::filesystem::path folder) : folder_(std::move(folder)) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    if (!it->is_directory(typeError) && !typeError) files_.insert(FoldedName(it->path().filename().string()));
  }
}

bool AlbumFolder::FileExists(const std::string& fileName) const {
  if (files_.contains(FoldedName(fileName))) return true;
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(folder_ / fileName, ec);
  return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

void AlbumFolder::Added(const std::string& fileName) { files_.insert(FoldedName(fileName)); }

bool IsTemporaryFileName(std::string_view name) {
  return name.size() > kTemporaryPrefix.size() + kTemporarySuffix.size() && name.starts_with(kTemporaryPrefix) &&
         name.ends_with(kTemporarySuffix);
}

std::optional<std::string> WriteFileWhole(const std::filesystem::path& target, std::string_view bytes) {
  static std::atomic<unsigned> counter{0};
  std::filesystem::path temporary;
  int fd = -1;
  // The names are ours alone (a listed name never begins with a dot); O_EXCL guards the rest.
  for (int attempt = 0; fd < 0; ++attempt) {
    temporary = target.parent_path() / (std::string(kTemporaryPrefix) + std::to_string(getpid()) + "-" +
                                        std::to_string(counter++) + std::string(kTemporarySuffix));
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt > 100)) return SystemErrorText(errno);
  }
  auto fail = [&](int error) -> std::optional<std::string> {
    if (fd >= 0) ::close(fd);
    ::unlink(temporary.c_str());
    return SystemErrorText(error);
  };
  for (size_t written = 0; written < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    written += static_cast<size_t>(n);
  }
  // A full disk may only show when the file is closed.
  int closed = ::close(fd);
  fd = -1;
  if (closed != 0) return fail(errno);
  if (::rename(temporary.c_str(), target.c_str()) != 0) return fail(errno);
  return std::nullopt;
}

void RemoveStaleTemporaryFiles(const std::filesystem::path& folder) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (IsTemporaryFileName(it->path().filename().string())) {
      std::error_code ignored;
      std::filesystem::remove(it->path(), ignored);
    }
  }
}

}  // namespace torvo::sync
