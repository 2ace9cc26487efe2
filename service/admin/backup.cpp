#include "service/admin/backup.h"

#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "service/store/sqlite_store.h"
#include "service/web/zip.h"

namespace torvo::service {

namespace {

constexpr const char* kDatabaseName = "torvo.sqlite";

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw StoreError("cannot read " + path.string());
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint32_t Get(const std::string& bytes, size_t at, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
  return value;
}

// A name inside the archive that stays inside the data folder.
bool IsSafeName(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos) return false;
  for (const auto& part : std::filesystem::path(name)) {
    if (part == ".." || part == ".") return false;
  }
  return true;
}

}  // namespace

BackupCounts Backup(const std::filesystem::path& dataDir, const std::filesystem::path& file) {
  if (!std::filesystem::exists(dataDir / kDatabaseName)) throw StoreError("no data folder at " + dataDir.string());
  SqliteStore store(dataDir);
  // The database at one moment, into a file of our own; the rows there name the pictures to take.
  std::filesystem::path snapshot = file;
  snapshot += ".sqlite.part";
  std::filesystem::remove(snapshot);
  sqlite3* copy = nullptr;
  if (sqlite3_open(snapshot.c_str(), &copy) != SQLITE_OK) {
    sqlite3_close(copy);
    throw StoreError("cannot write " + snapshot.string());
  }
  BackupCounts counts;
  std::filesystem::path part = file;
  part += ".part";
  try {
    sqlite3_backup* backup = sqlite3_backup_init(copy, "main", store.Handle(), "main");
    if (!backup) throw StoreError(std::string("backup: ") + sqlite3_errmsg(copy));
    // One step: all pages in one read transaction, so uploads going on do not make it restart.
    int rc = sqlite3_backup_step(backup, -1);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) throw StoreError(std::string("backup: ") + sqlite3_errmsg(copy));
    sqlite3_exec(copy, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);

    std::vector<std::pair<int64_t, std::string>> files;
    sqlite3_stmt* rows = nullptr;
    sqlite3_prepare_v2(copy, "SELECT id, file FROM images", -1, &rows, nullptr);
    while (sqlite3_step(rows) == SQLITE_ROW) {
      ++counts.entries;
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(rows, 1));
      if (text && *text) files.emplace_back(sqlite3_column_int64(rows, 0), text);
    }
    sqlite3_finalize(rows);

    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    if (!out) throw StoreError("cannot write " + part.string());
    ZipWriter zip([&out](std::string_view bytes) {
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      return static_cast<bool>(out);
    });
    std::time_t now = std::time(nullptr);
    std::vector<int64_t> gone;
    for (const auto& [id, name] : files) {
      std::ifstream picture(dataDir / "images" / name, std::ios::binary);
      if (!picture) {  // its entry was deleted after the moment of the backup
        gone.push_back(id);
        continue;
      }
      std::string bytes((std::istreambuf_iterator<char>(picture)), std::istreambuf_iterator<char>());
      if (!zip.Add("images/" + name, bytes, now)) throw StoreError("cannot write " + part.string());
      ++counts.pictures;
    }
    for (int64_t id : gone) {
      sqlite3_exec(copy, ("UPDATE images SET file = '' WHERE id = " + std::to_string(id)).c_str(), nullptr, nullptr, nullptr);
    }
    counts.missingPictures = static_cast<int64_t>(gone.size());
    sqlite3_close(copy);
    copy = nullptr;
    std::string database = ReadAll(snapshot);
    if (database.size() >= 0xFFFFFFFFu) throw StoreError("the database is 4 GiB or more: back it up with sqlite3's .backup");
    if (!zip.Add(kDatabaseName, database, now) || !zip.Finish()) throw StoreError("cannot write " + part.string());
    out.flush();
    out.close();
    if (!out) throw StoreError("cannot write " + part.string());
    std::filesystem::remove(snapshot);
    std::filesystem::rename(part, file);
  } catch (...) {
    sqlite3_close(copy);
    std::error_code ignored;
    std::filesystem::remove(snapshot, ignored);
    std::filesystem::remove(part, ignored);
    throw;
  }
  return counts;
}

namespace {

BackupCounts Unpack(const std::filesystem::path& file, const std::filesystem::path& dataDir) {
  std::string archive = ReadAll(file);
  BackupCounts counts;
  bool database = false;
  // The entries one after another, as the backup wrote them (stored, sizes in each header).
  size_t at = 0;
  while (at + 30 <= archive.size() && Get(archive, at, 4) == 0x04034B50) {
    uint32_t method = Get(archive, at + 8, 2);
    uint32_t crc = Get(archive, at + 14, 4);
    uint32_t size = Get(archive, at + 18, 4);
    uint32_t nameLength = Get(archive, at + 26, 2);
    uint32_t extra = Get(archive, at + 28, 2);
    size_t data = at + 30 + nameLength + extra;
    if (method != 0 || data + size > archive.size()) throw StoreError(file.string() + " is no torvo-service backup");
    std::string name = archive.substr(at + 30, nameLength);
    std::string_view bytes(archive.data() + data, size);
    if (!IsSafeName(name) || Crc32(bytes) != crc) throw StoreError(file.string() + " is damaged (" + name + ")");
    std::filesystem::path target = dataDir / name;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw StoreError("cannot write " + target.string());
    if (name == kDatabaseName) database = true;
    else ++counts.pictures;
    at = data + size;
  }
  if (!database) {
    throw StoreError(file.string() + " is no torvo-service backup (it holds no database)");
  }
  SqliteStore store(dataDir);  // brings an older layout up to date and checks it opens
  for (const auto& user : store.Users()) {
    EntryQuery query;
    query.userId = user.id;
    query.limit = 1 << 30;
    counts.entries += static_cast<int64_t>(store.Entries(query).size());
  }
  return counts;
}

}  // namespace

BackupCounts Restore(const std::filesystem::path& file, const std::filesystem::path& dataDir) {
  if (std::filesystem::exists(dataDir) && !std::filesystem::is_empty(dataDir)) {
    throw StoreError(dataDir.string() + " is not empty: restore into a new folder");
  }
  try {
    return Unpack(file, dataDir);
  } catch (...) {
    // Half a restore is no data folder: nothing is left to be mistaken for one.
    std::error_code ignored;
    std::filesystem::remove_all(dataDir, ignored);
    throw;
  }
}

}  // namespace torvo::service
