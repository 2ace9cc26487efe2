#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/service_connection.h"

namespace torvo {

namespace {

// Writes all of bytes to fd: 0, or the error that stopped it.
int WriteAll(int fd, std::string_view bytes) {
  for (size_t written = 0; written < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    written += static_cast<size_t>(n);
  }
  return 0;
}

// Creates file, which must not exist yet, with mode and bytes as its whole content. durable: the
// content is on the disk before the file is closed, for a rename that follows.
std::optional<std::string> CreateWith(const std::filesystem::path& file, std::string_view bytes, mode_t mode,
                                      bool durable, bool* existed) {
  *existed = false;
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    *existed = errno == EEXIST;
    return std::strerror(errno);
  }
  if (const int error = WriteAll(fd, bytes)) {
    ::close(fd);
    return std::strerror(error);
  }
  if ((durable && ::fsync(fd) != 0) || ::close(fd) != 0) return std::strerror(errno);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> CreateNewFile(const std::filesystem::path& file, std::string_view bytes, bool* existed) {
  return CreateWith(file, bytes, 0666, false, existed);
}

std::optional<std::string> CreatePrivateFile(const std::filesystem::path& file, std::string_view bytes) {
  bool existed = false;
  return CreateWith(file, bytes, 0600, true, &existed);
}

WholeFile CreateWholeFile(const std::filesystem::path& file, std::string_view bytes, std::string* error) {
#ifdef O_TMPFILE
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return WholeFile::kNotOffered;
    *error = std::strerror(errno);
    return WholeFile::kFailed;
  }
  if (const int failure = WriteAll(fd, bytes)) {
    *error = std::strerror(failure);
    ::close(fd);
    return WholeFile::kFailed;
  }
  // The file without a name is reached through this process's descriptor table.
  char self[40];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  if (::linkat(AT_FDCWD, self, AT_FDCWD, file.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    const int linkError = errno;
    ::close(fd);
    if (linkError == EEXIST) return WholeFile::kNameTaken;
    // No /proc: the other way needs none.
    if (linkError == ENOENT && ::access("/proc/self/fd", F_OK) != 0) return WholeFile::kNotOffered;
    *error = std::strerror(linkError);
    return WholeFile::kFailed;
  }
  if (::close(fd) != 0) {
    *error = std::strerror(errno);
    ::unlink(file.c_str());
    return WholeFile::kFailed;
  }
  return WholeFile::kMade;
#else
  (void)file;
  (void)bytes;
  (void)error;
  return WholeFile::kNotOffered;
#endif
}

std::optional<std::string> RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return std::strerror(errno);
  return std::nullopt;
}

std::filesystem::path StoredSpelling(const std::filesystem::path& existing) { return existing; }

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

std::vector<FolderEntry> ListFolder(const std::filesystem::path& folder) {
  std::vector<FolderEntry> entries;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return entries;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (!entry) break;
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::optional<bool> isFolder;
    if (entry->d_type == DT_DIR) {
      isFolder = true;
    } else if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) {
      isFolder = false;
    } else {
      struct stat info {};
      if (::fstatat(::dirfd(dir), entry->d_name, &info, 0) == 0) isFolder = S_ISDIR(info.st_mode);
    }
    entries.push_back({std::string(name), isFolder});
  }
  ::closedir(dir);
  return entries;
}

}  // namespace torvo
