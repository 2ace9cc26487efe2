#include "sync/album_folder.h"

#include <atomic>
#include <system_error>

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/workfolder.h"

namespace torvo::sync {

namespace {
constexpr std::string_view kTemporaryPrefix = ".TorvoSync-";
constexpr std::string_view kTemporarySuffix = ".part";
}  // namespace

bool FileExists(const std::filesystem::path& fileName) {
  std::optional<std::filesystem::path> found = FindNoCase(fileName.parent_path(), Utf8Path(fileName.filename()));
  if (!found) return false;
  std::error_code ec;
  return !std::filesystem::is_directory(*found, ec) && !ec;
}

AlbumFolder::AlbumFolder(std::filesystem::path folder) : AlbumFolder(std::move(folder), false) {}

AlbumFolder AlbumFolder::ListedAndTidied(std::filesystem::path folder) { return AlbumFolder(std::move(folder), true); }

AlbumFolder::AlbumFolder(std::filesystem::path folder, bool removeTemporaryFiles) : folder_(std::move(folder)) {
  const std::vector<FolderEntry> entries = ListFolder(folder_);
  files_.reserve(entries.size());
  for (const FolderEntry& entry : entries) {
    if (removeTemporaryFiles && IsTemporaryFileName(entry.name)) {
      std::error_code ignored;
      std::filesystem::remove(folder_ / PathFromUtf8(entry.name), ignored);
      continue;
    }
    if (entry.isFolder == false) files_.insert(FromUtf8(entry.name));
  }
}

bool AlbumFolder::FileExists(const std::string& fileName) const {
  return files_.contains(std::u16string_view(FromUtf8(fileName))) || MadeSinceListing(fileName);
}

bool AlbumFolder::FileExists(std::u16string_view fileName) const {
  return files_.contains(fileName) || MadeSinceListing(ToUtf8(fileName));
}

bool AlbumFolder::MadeSinceListing(const std::string& fileName) const {
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(folder_ / PathFromUtf8(fileName), ec);
  return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

void AlbumFolder::Added(const std::string& fileName) { files_.insert(FromUtf8(fileName)); }

bool IsTemporaryFileName(std::string_view name) {
  return name.size() > kTemporaryPrefix.size() + kTemporarySuffix.size() && name.starts_with(kTemporaryPrefix) &&
         name.ends_with(kTemporarySuffix);
}

std::optional<std::string> WriteFileWhole(const std::filesystem::path& target, std::string_view bytes) {
  static std::atomic<unsigned> counter{0};
  static const std::string processId = std::to_string(CurrentProcessId());
  std::filesystem::path temporary;
  // The names are ours alone (a listed name never begins with a dot); an exclusive create
  // guards the rest.
  for (int attempt = 0;; ++attempt) {
    temporary = target.parent_path() / (std::string(kTemporaryPrefix) + processId + "-" +
                                        std::to_string(counter++) + std::string(kTemporarySuffix));
    bool existed = false;
    std::optional<std::string> error = CreateNewFile(temporary, bytes, &existed);
    if (!error) break;
    if (existed && attempt <= 100) continue;
    if (!existed) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
    }
    return error;
  }
  if (std::optional<std::string> error = RenameReplacing(temporary, target)) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return error;
  }
  return std::nullopt;
}

}  // namespace torvo::sync
