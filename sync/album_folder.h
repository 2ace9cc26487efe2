#pragma once
// The sync's side of the work folder: which images are there already, and putting a downloaded
// image in place so that a file under its final name is always complete.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/workfolder.h"  // DirExists, FoldedChar, FoldedNameHash

namespace torvo::sync {

// Whether a file (not a folder) of that name is in its folder, the name matched without regard
// to case. Any error during the probe gives false.
bool FileExists(const std::filesystem::path& fileName);

// File names compared without regard to case (as FoldedNameEqual), kept in one block of text and
// one open-addressed table. The listing's thread builds it and the sync's asks about every item:
// a node-based set of separately allocated strings costs that thread a few cache misses for each
// question, and a free per name at the end.
class FoldedNameSet {
 public:
  void Reserve(size_t names);
  // Adds stem followed by suffix; false when the set had that name already.
  bool Insert(std::u16string_view stem, std::u16string_view suffix = {});
  bool Contains(std::u16string_view name) const { return Contains(name, {}); }
  // Whether stem followed by suffix is in the set, without making that name.
  bool Contains(std::u16string_view stem, std::u16string_view suffix) const;
  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    uint64_t hash;
    uint32_t offset;  // in folded_
    uint32_t length;
  };
  struct Slot {
    uint32_t tag;    // the upper half of the name's hash
    uint32_t entry;  // index into entries_ plus one; 0 for an empty slot
  };
  static uint64_t Hash(std::u16string_view stem, std::u16string_view suffix);
  bool Matches(const Entry& entry, std::u16string_view stem, std::u16string_view suffix) const;
  void Place(uint64_t hash, uint32_t entry);
  void Rehash(size_t slots);

  std::u16string folded_;  // every name, folded, one after another
  std::vector<Entry> entries_;
  std::vector<Slot> slots_;  // a power of two long, at most half full
};

// The names of one folder, listed once, for a sync that asks about every item: one listing
// instead of one per missing image.
class AlbumFolder {
 public:
  explicit AlbumFolder(std::filesystem::path folder);
  // The same listing, which also removes the temporary files a killed sync left behind: a sync
  // reads the folder once.
  static AlbumFolder ListedAndTidied(std::filesystem::path folder);

  // As FileExists(folder / fileName) at the time of the listing, or for a file of exactly that
  // name made since.
  bool FileExists(const std::string& fileName) const;
  bool FileExists(std::u16string_view fileName) const;
  // Whether the name was in the listing or Added since, without looking at the folder again.
  // The name is stem followed by suffix, asked about without being put together.
  bool Listed(std::u16string_view stem, std::u16string_view suffix) const { return files_.Contains(stem, suffix); }
  // A file this sync has just put in place.
  void Added(const std::string& fileName);
  const std::filesystem::path& folder() const { return folder_; }

 private:
  AlbumFolder(std::filesystem::path folder, bool removeTemporaryFiles);
  bool MadeSinceListing(const std::string& fileName) const;

  std::filesystem::path folder_;
  // The names of the files (not folders), compared without regard to case.
  FoldedNameSet files_;
};

// Writes bytes to a temporary file in the target's folder and renames it to the target only once
// all of it is written, so a crash, a kill or a full disk never leaves a short file under the
// final name. Returns why it failed (nothing written under the target then), or nothing.
std::optional<std::string> WriteFileWhole(const std::filesystem::path& target, std::string_view bytes);

// Whether a file name is one of the temporary files above.
bool IsTemporaryFileName(std::string_view fileName);

}  // namespace torvo::sync
