#include "sync/album_folder.h"

#include <algorithm>
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

void FoldedNameSet::Reserve(size_t names) {
  entries_.reserve(names);
  folded_.reserve(names * 12);
  size_t slots = 16;
  while (slots < 2 * names) slots *= 2;
  if (slots > slots_.size()) Rehash(slots);
}

uint64_t FoldedNameSet::Hash(std::u16string_view stem, std::u16string_view suffix) {
  // The low bits pick the slot and the high ones tell most names apart before their text is read.
  const uint64_t hash = FoldedNameHash{}(stem, suffix);
  return hash ^ (hash >> 29);
}

bool FoldedNameSet::Matches(const Entry& entry, std::u16string_view stem, std::u16string_view suffix) const {
  if (entry.length != stem.size() + suffix.size()) return false;
  const char16_t* text = folded_.data() + entry.offset;
  for (char16_t c : stem) {
    if (*text++ != FoldedChar(c)) return false;
  }
  for (char16_t c : suffix) {
    if (*text++ != FoldedChar(c)) return false;
  }
  return true;
}

void FoldedNameSet::Place(uint64_t hash, uint32_t entry) {
  const size_t mask = slots_.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    if (slots_[at].entry == 0) {
      slots_[at] = {static_cast<uint32_t>(hash >> 32), entry};
      return;
    }
  }
}

void FoldedNameSet::Rehash(size_t slots) {
  slots_.assign(slots, Slot{0, 0});
  for (uint32_t i = 0; i < entries_.size(); ++i) Place(entries_[i].hash, i + 1);
}

bool FoldedNameSet::Insert(std::u16string_view stem, std::u16string_view suffix) {
  if (Contains(stem, suffix)) return false;
  if (2 * (entries_.size() + 1) > slots_.size()) Rehash(std::max<size_t>(16, 2 * slots_.size()));
  const Entry entry{Hash(stem, suffix), static_cast<uint32_t>(folded_.size()),
                    static_cast<uint32_t>(stem.size() + suffix.size())};
  for (char16_t c : stem) folded_.push_back(FoldedChar(c));
  for (char16_t c : suffix) folded_.push_back(FoldedChar(c));
  entries_.push_back(entry);
  Place(entry.hash, static_cast<uint32_t>(entries_.size()));
  return true;
}

bool FoldedNameSet::Contains(std::u16string_view stem, std::u16string_view suffix) const {
  if (slots_.empty()) return false;
  const uint64_t hash = Hash(stem, suffix);
  const uint32_t tag = static_cast<uint32_t>(hash >> 32);
  const size_t mask = slots_.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.entry == 0) return false;
    if (slot.tag == tag && Matches(entries_[slot.entry - 1], stem, suffix)) return true;
  }
}

AlbumFolder::AlbumFolder(std::filesystem::path folder) : AlbumFolder(std::move(folder), false) {}

AlbumFolder AlbumFolder::ListedAndTidied(std::filesystem::path folder) { return AlbumFolder(std::move(folder), true); }

AlbumFolder::AlbumFolder(std::filesystem::path folder, bool removeTemporaryFiles) : folder_(std::move(folder)) {
  const std::vector<FolderEntry> entries = ListFolder(folder_);
  files_.Reserve(entries.size());
  for (const FolderEntry& entry : entries) {
    if (removeTemporaryFiles && IsTemporaryFileName(entry.name)) {
      std::error_code ignored;
      std::filesystem::remove(folder_ / PathFromUtf8(entry.name), ignored);
      continue;
    }
    if (entry.isFolder == false) files_.Insert(FromUtf8(entry.name));
  }
}

bool AlbumFolder::FileExists(const std::string& fileName) const {
  return files_.Contains(FromUtf8(fileName)) || MadeSinceListing(fileName);
}

bool AlbumFolder::FileExists(std::u16string_view fileName) const {
  return files_.Contains(fileName) || MadeSinceListing(ToUtf8(fileName));
}

bool AlbumFolder::MadeSinceListing(const std::string& fileName) const {
  std::error_code ec;
  std::filesystem::file_status status = std::filesystem::status(folder_ / PathFromUtf8(fileName), ec);
  return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

void AlbumFolder::Added(const std::string& fileName) { files_.Insert(FromUtf8(fileName)); }

bool IsTemporaryFileName(std::string_view name) {
  return name.size() > kTemporaryPrefix.size() + kTemporarySuffix.size() && name.starts_with(kTemporaryPrefix) &&
         name.ends_with(kTemporarySuffix);
}

std::optional<std::string> WriteFileWhole(const std::filesystem::path& target, std::string_view bytes) {
  // Where the file system can, the file is named once whole; else (and over a file of that name
  // that came meanwhile) through a temporary name.
  std::string failure;
  switch (CreateWholeFile(target, bytes, &failure)) {
    case WholeFile::kMade:
      return std::nullopt;
    case WholeFile::kFailed:
      return failure;
    case WholeFile::kNotOffered:
    case WholeFile::kNameTaken:
      break;
  }
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
