#pragma once
// Backups of the embedded store while the service runs: the database as it was at one moment
// (SQLite's online backup) and the pictures its rows name, in one zip file; and back again.
#include <cstdint>
#include <filesystem>

namespace torvo::service {

struct BackupCounts {
  int64_t entries = 0;
  int64_t pictures = 0;
  int64_t missingPictures = 0;  // deleted after the moment of the backup: their entries were too
};

// Writes FILE (through FILE.part, renamed when whole). Throws StoreError with the reason.
BackupCounts Backup(const std::filesystem::path& dataDir, const std::filesystem::path& file);
// Unpacks FILE into dataDir, which must be missing or empty; returns the entries restored.
BackupCounts Restore(const std::filesystem::path& file, const std::filesystem::path& dataDir);

}  // namespace torvo::service
