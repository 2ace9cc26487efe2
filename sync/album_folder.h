#pragma once
// The sync's side of the work folder: which images are there already, and putting a downloaded
// image in place so that a file under its final name is always complete.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace torvo::sync {

// Whether a file (not a folder) of that name is in its folder, the name matched without regard
// to case. Any error during the probe gives false.
bool FileExists(const std::filesystem::path& fileName);

// Whether the folder exists. Any error during the probe gives false.
bool DirExists(const std::filesystem::path& path);

// Writes bytes to a temporary file in the target's folder and renames it to the target only once
// all of it is written, so a crash, a kill or a full disk never leaves a short file under the
// final name. Returns why it failed (nothing written under the target then), or nothing.
std::optional<std::string> WriteFileWhole(const std::filesystem::path& target, std::string_view bytes);

// Removes the temporary files that a killed sync left in the folder.
void RemoveStaleTemporaryFiles(const std::filesystem::path& folder);

// Whether a file name is one of the temporary files above.
bool IsTemporaryFileName(std::string_view fileName);

}  // namespace torvo::sync
