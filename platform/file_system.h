#pragma once
// The few file calls std::filesystem does not offer: creating a file that must be new, creating
// one that is named only once whole, and renaming over an existing one in one step.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvo {

// Creates file, which must not exist yet, with bytes as its whole content, and closes it (a full
// disk may only show then). Nothing on success; otherwise the system's words for the failure,
// with *existed telling whether the name was taken (then nothing was created). A file created
// before a later failure is left for the caller to remove.
std::optional<std::string> CreateNewFile(const std::filesystem::path& file, std::string_view bytes, bool* existed);

// Creates file with bytes as its whole content where the folder's file system can make a file
// without a name and name it once written: the name is never seen on a partial file, and nothing
// is left behind by a failure or a crash. kNotOffered: the system or the file system cannot, and
// nothing was made; kNameTaken: a file of that name exists, and it is left as it is; kFailed: the
// system's words for the failure are in *error, and nothing was made.
enum class WholeFile { kMade, kNotOffered, kNameTaken, kFailed };
WholeFile CreateWholeFile(const std::filesystem::path& file, std::string_view bytes, std::string* error);

// Renames from to to, replacing a file of that name in one step. Nothing on success, otherwise
// the system's words for the failure.
std::optional<std::string> RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// The existing file's path with its name spelt as the folder stores it: the same path where
// names are told apart by case, the entry's own spelling where they are not (Windows).
std::filesystem::path StoredSpelling(const std::filesystem::path& existing);

struct FolderEntry {
  std::string name;              // UTF-8 (on Linux the bytes as stored)
  std::optional<bool> isFolder;  // through a link to its target; nothing when that cannot be read
};

// The entries of folder without "." and "..", in the system's order, read in a few large steps:
// a folder of thousands of names costs a few system calls and no path object per name. A folder
// that cannot be read gives the entries read so far (none when it cannot be opened).
std::vector<FolderEntry> ListFolder(const std::filesystem::path& folder);

// This process's number, for names that no other running copy chooses.
uint32_t CurrentProcessId();

}  // namespace torvo
