#include "service/store/sqlite_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <unordered_set>
#include <vector>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <system_error>
#include <thread>

#include "service/wire/cp949.h"
#include "service/store/search_text.h"

namespace torvo::service {

namespace {

// SQLite's message of the last failure on db.
[[noreturn]] void ThrowDatabaseError(sqlite3* db) { throw StoreError(std::string("database: ") + sqlite3_errmsg(db)); }

}  // namespace

// Prepared statements kept for reuse, by their SQL text: the service runs the same few queries on
// every request, and preparing one costs more than running it. A statement in use is not in the
// cache, so a second one of the same text (a query inside another's loop) is prepared anew and
// kept beside it. Used under the store's lock.
class StatementCache {
 public:
  explicit StatementCache(sqlite3* db) : db_(db) {}
  ~StatementCache() {
    for (auto& [sql, statements] : idle_) {
      for (sqlite3_stmt* statement : statements) sqlite3_finalize(statement);
    }
  }
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  sqlite3* db() const { return db_; }

  sqlite3_stmt* Take(const char* sql) {
    auto found = idle_.find(std::string_view(sql));
    if (found != idle_.end() && !found->second.empty()) {
      sqlite3_stmt* statement = found->second.back();
      found->second.pop_back();
      return statement;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
      sqlite3_finalize(statement);
      ThrowDatabaseError(db_);
    }
    return statement;
  }

  // Reset, so it holds no read of the database while it waits.
  void Give(sqlite3_stmt* statement) {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    idle_[sqlite3_sql(statement)].push_back(statement);
  }

 private:
  sqlite3* db_;
  std::map<std::string, std::vector<sqlite3_stmt*>, std::less<>> idle_;
};

namespace {

// One prepared statement, taken from the store's cache and given back reset; throws StoreError
// with SQLite's message when a step fails.
class Statement {
 public:
  Statement(StatementCache& cache, const char* sql) : cache_(cache), stmt_(cache.Take(sql)) {}
  ~Statement() { cache_.Give(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
  }
  Statement& Bind(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // True while there is a row to read.
  bool Step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) ThrowDatabaseError(cache_.db());
    return false;
  }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  std::string Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))) : std::string{};
  }

 private:
  StatementCache& cache_;
  sqlite3_stmt* stmt_;
};

void Execute(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw StoreError("database: " + text);
  }
}

// A write transaction that takes the database's write lock at once, so two writers (the service
// and the command line) never pick the same image name.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) { Execute(db_, "BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (!committed_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit() {
    Execute(db_, "COMMIT");
    committed_ = true;
  }

 private:
  sqlite3* db_;
  bool committed_ = false;
};

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS users(
  id INTEGER PRIMARY KEY,
  identity TEXT NOT NULL UNIQUE,
  signed_in INTEGER NOT NULL DEFAULT 1);
CREATE TABLE IF NOT EXISTS folders(
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  number INTEGER NOT NULL,
  name TEXT NOT NULL,
  UNIQUE(user_id, number));
CREATE TABLE IF NOT EXISTS images(
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  name TEXT NOT NULL,
  file TEXT NOT NULL,
  folder INTEGER NOT NULL,
  public INTEGER NOT NULL,
  url TEXT NOT NULL,
  title TEXT NOT NULL,
  note TEXT NOT NULL,
  size INTEGER NOT NULL,
  uploaded TEXT NOT NULL,
  UNIQUE(user_id, name));
CREATE INDEX IF NOT EXISTS images_by_name ON images(name);
)sql";

// From the first layout (users known by their ToolbarID alone) to accounts of the web page: a
// name and a password, sessions, replaced ToolbarIDs, the search index and the list's order.
constexpr const char* kVersion1 = R"sql(
ALTER TABLE users ADD COLUMN name TEXT;
ALTER TABLE users ADD COLUMN password_hash TEXT NOT NULL DEFAULT '';
UPDATE users SET name = identity;
CREATE UNIQUE INDEX users_by_name ON users(name);
CREATE TABLE retired_ids(
  toolbar_id TEXT PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id));
CREATE TABLE sessions(
  token_hash TEXT PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  csrf TEXT NOT NULL,
  created INTEGER NOT NULL,
  seen INTEGER NOT NULL);
CREATE INDEX images_newest ON images(user_id, uploaded, id);
CREATE INDEX images_by_folder ON images(user_id, folder, uploaded, id);
CREATE VIRTUAL TABLE entries_index USING fts5(title, url, note, tokenize = 'unicode61 remove_diacritics 2');
)sql";

// Devices, each with a ToolbarID of its own; a revoked one's ToolbarID goes to retired_ids.
constexpr const char* kVersion2 = R"sql(
CREATE TABLE devices(
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  toolbar_id TEXT NOT NULL UNIQUE,
  name TEXT NOT NULL,
  created INTEGER NOT NULL,
  last_used INTEGER NOT NULL DEFAULT 0);
CREATE INDEX devices_by_user ON devices(user_id, id);
)sql";

// Sharing: whether a user shows their public entries, under which album name, and the secret of
// their private feed; the public list's order and its folder filter over public entries alone.
constexpr const char* kVersion3 = R"sql(
CREATE TABLE IF NOT EXISTS sharing(
  user_id INTEGER PRIMARY KEY REFERENCES users(id),
  shared INTEGER NOT NULL DEFAULT 0,
  album TEXT UNIQUE,
  feed_secret TEXT UNIQUE);
CREATE INDEX IF NOT EXISTS images_public_newest ON images(user_id, public, uploaded, id);
CREATE INDEX IF NOT EXISTS images_public_by_folder ON images(user_id, public, folder, uploaded, id);
CREATE INDEX IF NOT EXISTS images_public_pictures ON images(user_id, public, uploaded, id) WHERE file != '';
)sql";

// A ToolbarID is never given twice: not while it is a user's or a device's, nor after.
constexpr const char* kToolbarIdTaken =
    "SELECT 1 FROM users WHERE identity = ?1 UNION ALL SELECT 1 FROM retired_ids WHERE toolbar_id = ?1"
    " UNION ALL SELECT 1 FROM devices WHERE toolbar_id = ?1";

constexpr int64_t kSessionIdleSeconds = 30 * 24 * 3600;



// Names made only of letters, digits, "-" and "_" name their file; others are kept by row id.
bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name.size() <= 100 && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

// The picture is whole on disk under its name before its row commits: written to NAME.part,
// flushed, renamed. A crash before the commit leaves a file no row names, which the next start
// removes (SweepStrayPictures); one after leaves both.
void WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::path temporary = path;
  temporary += ".part";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw StoreError("cannot write " + temporary.string() + ": " + std::strerror(errno));
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  int saved = errno;
  ok = ::close(fd) == 0 && ok;
  std::error_code error;
  if (!ok) {
    std::filesystem::remove(temporary, error);
    throw StoreError("cannot write " + temporary.string() + ": " + std::strerror(saved));
  }
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw StoreError("cannot write " + path.string());
  }
}

constexpr const char* kUserColumns = "id, identity, signed_in, name, password_hash != ''";

User ReadUser(const Statement& row) {
  return User{row.Int(0), row.Text(1), row.Int(2) != 0, row.Text(3), row.Int(4) != 0};
}



constexpr const char* kImageColumns =
    "id, name, file, folder, public, url, title, note, size, uploaded";
constexpr const char* kImageColumnsOfImages =
    "images.id, images.name, images.file, images.folder, images.public, images.url, images.title, images.note, "
    "images.size, images.uploaded";

Image ReadImage(const Statement& row) {
  Image image;
  image.id = row.Int(0);
  image.name = row.Text(1);
  image.file = row.Text(2);
  image.folder = static_cast<int32_t>(row.Int(3));
  image.isPublic = row.Int(4) != 0;
  image.url = row.Text(5);
  image.title = row.Text(6);
  image.note = row.Text(7);
  image.size = row.Int(8);
  image.uploaded = row.Text(9);
  return image;
}

// How long opening the database and each write wait for another process's lock on it.
constexpr int kLockWaitMs = 10000;

}  // namespace

SqliteStore::SqliteStore(const std::filesystem::path& dataDir, Clock clock)
    : dataDir_(dataDir), imageDir_(dataDir / "images"), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return std::time(nullptr); };
  std::error_code error;
  std::filesystem::create_directories(imageDir_, error);
  if (error) throw StoreError("cannot create " + imageDir_.string() + ": " + error.message());
  std::filesystem::path file = dataDir_ / "torvo.sqlite";
  if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw StoreError("cannot open " + file.string() + ": " + message);
  }
  try {
    statements_ = std::make_unique<StatementCache>(db_);
    sqlite3_busy_timeout(db_, kLockWaitMs);
    // WAL lets the command line write while the service reads; NORMAL syncing keeps the database
    // sound on a crash and makes each upload cost no disk flush. A new database turns to WAL only
    // with the file to itself, and SQLite does not wait for that: a second process opening the
    // same new folder (a command beside the service's first start) was told "database is locked".
    for (int waitedMs = 0;; waitedMs += 20) {
      const int status = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
      if (status == SQLITE_OK) break;
      if ((status != SQLITE_BUSY && status != SQLITE_LOCKED) || waitedMs >= kLockWaitMs) {
        ThrowDatabaseError(db_);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Execute(db_, "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
    {
      Transaction creating(db_);
      Execute(db_, kSchema);
      creating.Commit();
    }
    Migrate();
    SweepStrayPictures();
  } catch (...) {
    statements_.reset();
    sqlite3_close(db_);
    throw;
  }
}

SqliteStore::~SqliteStore() {
  statements_.reset();
  sqlite3_close(db_);
}

void SqliteStore::Migrate() {
  auto version = [this] {
    Statement read(*statements_, "PRAGMA user_version");
    read.Step();
    return read.Int(0);
  };
  if (version() == kSchemaVersion) return;
  Transaction transaction(db_);  // another process may be bringing the same folder up to date
  int64_t found = version();
  if (found > kSchemaVersion) {
    throw StoreError("the data folder was written by a newer torvo-service (layout " + std::to_string(found) +
                     "; this one knows up to " + std::to_string(kSchemaVersion) + ")");
  }
  if (found == 0) {
    Execute(db_, kVersion1);
    Statement all(*statements_, "SELECT id, url, title, note FROM images");
    while (all.Step()) {
      NewImage fields;
      fields.url = all.Text(1);
      fields.title = all.Text(2);
      fields.note = all.Text(3);
      IndexEntry(all.Int(0), fields);
    }
  }
  if (found < 2) Execute(db_, kVersion2);
  if (found < 3) Execute(db_, kVersion3);
  Execute(db_, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
  transaction.Commit();
}

void SqliteStore::IndexEntry(int64_t entryId, const NewImage& fields) {
  Statement remove(*statements_, "DELETE FROM entries_index WHERE rowid = ?");
  remove.Bind(1, entryId).Step();
  Statement insert(*statements_, "INSERT INTO entries_index(rowid, title, url, note) VALUES(?, ?, ?, ?)");
  insert.Bind(1, entryId).Bind(2, SearchText(fields.title)).Bind(3, SearchText(fields.url)).Bind(4, SearchText(fields.note));
  insert.Step();
}

User SqliteStore::AddAccount(std::string_view name, std::string_view toolbarId) {
  CheckUserName(name);
  CheckIdentity(toolbarId);
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  Statement find(*statements_, "SELECT 1 FROM users WHERE name = ?");
  if (find.Bind(1, name).Step()) throw StoreError("the user " + std::string(name) + " exists already");
  Statement taken(*statements_, kToolbarIdTaken);
  if (taken.Bind(1, toolbarId).Step()) throw StoreError("that ToolbarID is or was some user's already");
  Statement insert(*statements_, "INSERT INTO users(identity, signed_in, name) VALUES(?, 1, ?)");
  insert.Bind(1, toolbarId).Bind(2, name).Step();
  int64_t id = sqlite3_last_insert_rowid(db_);
  transaction.Commit();
  return User{id, std::string(toolbarId), true, std::string(name), false};
}

std::optional<User> SqliteStore::FindUserByName(std::string_view name) {
  std::lock_guard lock(mutex_);
  Statement find(*statements_, (std::string("SELECT ") + kUserColumns + " FROM users WHERE name = ?").c_str());
  if (!find.Bind(1, name).Step()) return std::nullopt;
  return ReadUser(find);
}

std::optional<User> SqliteStore::FindUserById(int64_t userId) {
  std::lock_guard lock(mutex_);
  Statement find(*statements_, (std::string("SELECT ") + kUserColumns + " FROM users WHERE id = ?").c_str());
  if (!find.Bind(1, userId).Step()) return std::nullopt;
  return ReadUser(find);
}

void SqliteStore::SetPasswordHash(int64_t userId, std::string_view hash) {
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  Statement update(*statements_, "UPDATE users SET password_hash = ? WHERE id = ?");
  update.Bind(1, hash).Bind(2, userId).Step();
  if (sqlite3_changes(db_) == 0) throw StoreError("no such user");
  // A new password ends every session the old one opened.
  Statement sessions(*statements_, "DELETE FROM sessions WHERE user_id = ?");
  sessions.Bind(1, userId).Step();
  transaction.Commit();
}

std::string SqliteStore::PasswordHash(int64_t userId) {
  std::lock_guard lock(mutex_);
  Statement find(*statements_, "SELECT password_hash FROM users WHERE id = ?");
  return find.Bind(1, userId).Step() ? find.Text(0) : std::string{};
}

void SqliteStore::ReplaceToolbarId(int64_t userId, std::string_view toolbarId) {
  CheckIdentity(toolbarId);
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  Statement taken(*statements_, kToolbarIdTaken);
  if (taken.Bind(1, toolbarId).Step()) throw StoreError("that ToolbarID is or was some user's already");
  Statement retire(*statements_, "INSERT INTO retired_ids(toolbar_id, user_id) SELECT identity, id FROM users WHERE id = ?");
  retire.Bind(1, userId).Step();
  if (sqlite3_changes(db_) == 0) throw StoreError("no such user");
  Statement update(*statements_, "UPDATE users SET identity = ? WHERE id = ?");
  update.Bind(1, toolbarId).Bind(2, userId).Step();
  transaction.Commit();
}

void SqliteStore::AddSession(std::string_view tokenHash, int64_t userId, std::string_view csrf) {
  std::lock_guard lock(mutex_);
  int64_t now = clock_();
  Statement expired(*statements_, "DELETE FROM sessions WHERE seen < ?");
  expired.Bind(1, now - kSessionIdleSeconds).Step();
  Statement insert(*statements_, "INSERT INTO sessions(token_hash, user_id, csrf, created, seen) VALUES(?, ?, ?, ?, ?)");
  insert.Bind(1, tokenHash).Bind(2, userId).Bind(3, csrf).Bind(4, now).Bind(5, now).Step();
}

std::optional<Session> SqliteStore::FindSession(std::string_view tokenHash) {
  std::lock_guard lock(mutex_);
  int64_t now = clock_();
  Statement find(*statements_, "SELECT user_id, csrf, seen FROM sessions WHERE token_hash = ?");
  if (!find.Bind(1, tokenHash).Step()) return std::nullopt;
  Session session{find.Int(0), find.Text(1)};
  int64_t seen = find.Int(2);
  if (seen < now - kSessionIdleSeconds) return std::nullopt;
  if (seen < now - 60) {  // a write a minute at most, not one per page
    Statement touch(*statements_, "UPDATE sessions SET seen = ? WHERE token_hash = ?");
    touch.Bind(1, now).Bind(2, tokenHash).Step();
  }
  return session;
}

void SqliteStore::RemoveSession(std::string_view tokenHash) {
  std::lock_guard lock(mutex_);
  Statement remove(*statements_, "DELETE FROM sessions WHERE token_hash = ?");
  remove.Bind(1, tokenHash).Step();
}

std::optional<User> SqliteStore::FindUser(std::string_view identity) {
  std::lock_guard lock(mutex_);
  Statement find(*statements_, (std::string("SELECT ") + kUserColumns + " FROM users WHERE identity = ?").c_str());
  if (find.Bind(1, identity).Step()) return ReadUser(find);
  Statement retired(*statements_, (std::string("SELECT ") + kUserColumns +
                          " FROM users WHERE id = (SELECT user_id FROM retired_ids WHERE toolbar_id = ?)").c_str());
  if (!retired.Bind(1, identity).Step()) return std::nullopt;
  User user = ReadUser(retired);
  user.identity = std::string(identity);
  user.signedIn = false;
  return user;
}

std::vector<User> SqliteStore::Users() {
  std::lock_guard lock(mutex_);
  Statement all(*statements_, (std::string("SELECT ") + kUserColumns + " FROM users ORDER BY id").c_str());
  std::vector<User> users;
  while (all.Step()) users.push_back(ReadUser(all));
  return users;
}

void SqliteStore::SetSignedIn(std::string_view identity, bool signedIn) {
  std::lock_guard lock(mutex_);
  Statement update(*statements_, "UPDATE users SET signed_in = ? WHERE identity = ?");
  update.Bind(1, signedIn ? 1 : 0).Bind(2, identity).Step();
  if (sqlite3_changes(db_) == 0) throw StoreError("no user " + std::string(identity));
}

void SqliteStore::RenameFolder(int64_t userId, int32_t number, std::string_view name) {
  CheckFolderName(name);
  std::lock_guard lock(mutex_);
  Statement update(*statements_, "UPDATE folders SET name = ? WHERE user_id = ? AND number = ?");
  update.Bind(1, name).Bind(2, userId).Bind(3, number).Step();
  if (sqlite3_changes(db_) == 0) throw StoreError("no such folder");
}

void SqliteStore::RemoveFolder(int64_t userId, int32_t number) {
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  Statement remove(*statements_, "DELETE FROM folders WHERE user_id = ? AND number = ?");
  remove.Bind(1, userId).Bind(2, number).Step();
  if (sqlite3_changes(db_) == 0) throw StoreError("no such folder");
  Statement move(*statements_, "UPDATE images SET folder = 0 WHERE user_id = ? AND folder = ?");
  move.Bind(1, userId).Bind(2, number).Step();
  transaction.Commit();
}

Folder SqliteStore::AddFolder(std::string_view identity, std::string_view name, std::optional<int32_t> number) {
  CheckFolderName(name);
  if (number == 0) throw StoreError("folder number 0 is the default folder");
  auto user = FindUser(identity);
  if (!user) throw StoreError("no user " + std::string(identity));
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  if (!number) {
    Statement highest(*statements_, "SELECT MAX(number) FROM folders WHERE user_id = ?");
    highest.Bind(1, user->id).Step();
    int64_t next = std::max<int64_t>(highest.Int(0), 0) + 1;
    if (next > INT32_MAX) throw StoreError("no folder number is left after the highest; give one");
    number = static_cast<int32_t>(next);
  }
  Statement find(*statements_, "SELECT 1 FROM folders WHERE user_id = ? AND number = ?");
  if (find.Bind(1, user->id).Bind(2, *number).Step()) {
    throw StoreError("the user has a folder number " + std::to_string(*number) + " already");
  }
  Statement insert(*statements_, "INSERT INTO folders(user_id, number, name) VALUES(?, ?, ?)");
  insert.Bind(1, user->id).Bind(2, *number).Bind(3, name).Step();
  transaction.Commit();
  return Folder{*number, std::string(name)};
}

std::vector<Folder> SqliteStore::Folders(int64_t userId) {
  std::lock_guard lock(mutex_);
  Statement all(*statements_, "SELECT number, name FROM folders WHERE user_id = ? ORDER BY id");
  all.Bind(1, userId);
  std::vector<Folder> folders;
  while (all.Step()) folders.push_back(Folder{static_cast<int32_t>(all.Int(0)), all.Text(1)});
  return folders;
}

bool SqliteStore::HasFolder(int64_t userId, int32_t number) {
  std::lock_guard lock(mutex_);
  Statement find(*statements_, "SELECT 1 FROM folders WHERE user_id = ? AND number = ?");
  return find.Bind(1, userId).Bind(2, number).Step();
}

std::string SqliteStore::NewName() {
  Statement probe(*statements_, "SELECT 1 FROM images WHERE name = ?");
  for (std::time_t time = clock_();; ++time) {
    std::string name = FormatLocalTime(time, "%Y%m%d%H%M%S");
    if (name.size() != 14) throw StoreError("the clock gives no 14-digit time");
    probe.Reset();
    if (!probe.Bind(1, name).Step()) return name;
  }
}

Image SqliteStore::Insert(int64_t userId, std::optional<std::string_view> wantedName, const NewImage& fields,
                    std::string_view png) {
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  std::string name = wantedName ? std::string(*wantedName) : NewName();
  if (wantedName) {
    Statement find(*statements_, "SELECT 1 FROM images WHERE user_id = ? AND name = ?");
    if (find.Bind(1, userId).Bind(2, name).Step()) throw StoreError("the user has an image " + name + " already");
  }

  Image image;
  image.name = name;
  image.folder = fields.folder;
  image.isPublic = fields.isPublic;
  image.url = fields.url;
  image.title = fields.title;
  image.note = fields.note;
  image.size = static_cast<int64_t>(png.size());
  image.uploaded = FormatLocalTime(clock_(), "%Y-%m-%d %H:%M:%S");

  Statement insert(*statements_, R"sql(INSERT INTO images(user_id, name, file, folder, public, url, title, note, size, uploaded)
                              VALUES(?, ?, '', ?, ?, ?, ?, ?, ?, ?))sql");
  insert.Bind(1, userId).Bind(2, name).Bind(3, image.folder).Bind(4, image.isPublic ? 1 : 0);
  insert.Bind(5, image.url).Bind(6, image.title).Bind(7, image.note).Bind(8, image.size).Bind(9, image.uploaded);
  insert.Step();
  image.id = sqlite3_last_insert_rowid(db_);
  image.file = std::to_string(userId) + "/" + (IsPlainFileName(name) ? name : std::string("i").append(std::to_string(image.id))) + ".png";
  Statement setFile(*statements_, "UPDATE images SET file = ? WHERE id = ?");
  setFile.Bind(1, image.file).Bind(2, image.id).Step();

  std::filesystem::path path = ImagePath(image);
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  if (error) throw StoreError("cannot create " + path.parent_path().string() + ": " + error.message());
  WriteFileAtomically(path, png);
  try {
    IndexEntry(image.id, fields);
    transaction.Commit();
  } catch (...) {
    std::filesystem::remove(path, error);
    throw;
  }
  return image;
}

std::vector<Image> SqliteStore::Images(int64_t userId) {
  std::lock_guard lock(mutex_);
  Statement all(*statements_, (std::string("SELECT ") + kImageColumns + " FROM images WHERE user_id = ? AND file != '' ORDER BY id").c_str());
  all.Bind(1, userId);
  std::vector<Image> images;
  while (all.Step()) images.push_back(ReadImage(all));
  return images;
}

std::optional<Image> SqliteStore::FindImage(int64_t userId, std::string_view name) {
  std::lock_guard lock(mutex_);
  Statement find(*statements_, (std::string("SELECT ") + kImageColumns + " FROM images WHERE user_id = ? AND name = ? AND file != ''").c_str());
  if (!find.Bind(1, userId).Bind(2, name).Step()) return std::nullopt;
  return ReadImage(find);
}

std::optional<Image> SqliteStore::FindSignedInUsersImage(std::string_view identity, std::string_view name) {
  // One statement, so one read of the database's locks instead of two: every download asks.
  std::lock_guard lock(mutex_);
  Statement find(*statements_, (std::string("SELECT ") + kImageColumnsOfImages +
                                " FROM images JOIN users ON users.id = images.user_id"
                                " WHERE users.identity = ? AND users.signed_in != 0 AND images.name = ? AND images.file != ''")
                                   .c_str());
  if (!find.Bind(1, identity).Bind(2, name).Step()) return std::nullopt;
  return ReadImage(find);
}

std::filesystem::path SqliteStore::ImagePath(const Image& image) const { return imageDir_ / image.file; }

std::optional<std::string> SqliteStore::Picture(const Image& image) {
  if (!image.HasPicture()) return std::nullopt;
  // Open, size, one read, close: a stream's buffered reads cost a system call per 8 KB and a
  // copy per byte, on the road every downloaded picture takes. A picture file is written whole
  // under a new name and never changed in place, so its size is the size to read.
  int fd = ::open(ImagePath(image).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<std::string> bytes;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    std::string data(static_cast<size_t>(info.st_size), '\0');
    size_t got = 0;
    bool failed = false;
    while (got < data.size()) {
      ssize_t n = ::read(fd, data.data() + got, data.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) failed = true;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    data.resize(got);
    if (!failed) bytes = std::move(data);
  }
  ::close(fd);
  return bytes;
}

int SqliteStore::SweepStrayPictures() {
  std::lock_guard lock(mutex_);
  // Under the write lock no upload of another process is between its file and its commit, so a
  // file no row names is what a dead process left.
  Transaction transaction(db_);
  std::unordered_set<std::string> named;
  Statement files(*statements_, "SELECT file FROM images WHERE file != ''");
  while (files.Step()) named.insert(files.Text(0));
  int removed = 0;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(imageDir_, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    std::string relative = std::filesystem::relative(it->path(), imageDir_, error).generic_string();
    if (named.count(relative)) continue;
    std::error_code ignored;
    if (std::filesystem::remove(it->path(), ignored)) ++removed;
  }
  transaction.Commit();
  return removed;
}

std::optional<std::string> SqliteStore::Unhealthy() {
  try {
    std::lock_guard lock(mutex_);
    Statement probe(*statements_, "SELECT count(*) FROM users");
    probe.Step();
    return std::nullopt;
  } catch (const std::exception& error) {
    return std::string(error.what());
  }
}

std::string SqliteStore::Describe() const { return "sqlite " + dataDir_.string(); }

Image SqliteStore::AddEntry(int64_t userId, const NewImage& fields, std::time_t added) {
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  if (fields.folder != 0) {
    Statement folder(*statements_, "SELECT 1 FROM folders WHERE user_id = ? AND number = ?");
    if (!folder.Bind(1, userId).Bind(2, fields.folder).Step()) throw StoreError("no such folder");
  }
  Image image;
  image.folder = fields.folder;
  image.isPublic = fields.isPublic;
  image.url = fields.url;
  image.title = fields.title;
  image.note = fields.note;
  image.uploaded = FormatLocalTime(added, "%Y-%m-%d %H:%M:%S");
  Statement insert(*statements_, R"sql(INSERT INTO images(user_id, name, file, folder, public, url, title, note, size, uploaded)
                              VALUES(?, 'entry-new', '', ?, ?, ?, ?, ?, 0, ?))sql");
  insert.Bind(1, userId).Bind(2, image.folder).Bind(3, image.isPublic ? 1 : 0);
  insert.Bind(4, image.url).Bind(5, image.title).Bind(6, image.note).Bind(7, image.uploaded);
  insert.Step();
  image.id = sqlite3_last_insert_rowid(db_);
  image.name = "entry-" + std::to_string(image.id);
  Statement setName(*statements_, "UPDATE images SET name = ? WHERE id = ?");
  setName.Bind(1, image.name).Bind(2, image.id).Step();
  IndexEntry(image.id, fields);
  transaction.Commit();
  return image;
}

size_t SqliteStore::AddEntries(int64_t userId, const std::vector<NewEntry>& entries) {
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  std::unordered_set<int64_t> folders{0};
  Statement folder(*statements_, "SELECT number FROM folders WHERE user_id = ?");
  for (folder.Bind(1, userId); folder.Step();) folders.insert(folder.Int(0));
  // The write lock is ours until the commit: the numbers after the highest are free, and each
  // name is its row's number as AddEntry makes it.
  Statement highest(*statements_, "SELECT COALESCE(MAX(id), 0) FROM images");
  highest.Step();
  int64_t id = highest.Int(0);
  Statement insert(*statements_, R"sql(INSERT INTO images(id, user_id, name, file, folder, public, url, title, note, size, uploaded)
                              VALUES(?, ?, ?, '', ?, ?, ?, ?, ?, 0, ?))sql");
  Statement index(*statements_, "INSERT INTO entries_index(rowid, title, url, note) VALUES(?, ?, ?, ?)");
  for (const NewEntry& entry : entries) {
    const NewImage& fields = entry.fields;
    if (!folders.count(fields.folder)) throw StoreError("no such folder");
    ++id;
    insert.Reset();
    insert.Bind(1, id).Bind(2, userId).Bind(3, "entry-" + std::to_string(id)).Bind(4, fields.folder);
    insert.Bind(5, fields.isPublic ? 1 : 0).Bind(6, fields.url).Bind(7, fields.title).Bind(8, fields.note);
    insert.Bind(9, FormatLocalTime(entry.added, "%Y-%m-%d %H:%M:%S"));
    insert.Step();
    index.Reset();
    index.Bind(1, id).Bind(2, SearchText(fields.title)).Bind(3, SearchText(fields.url)).Bind(4, SearchText(fields.note));
    index.Step();
  }
  transaction.Commit();
  return entries.size();
}

bool SqliteStore::HasEntry(int64_t userId, const NewImage& fields) {
  std::lock_guard lock(mutex_);
  Statement find(*statements_, "SELECT 1 FROM images WHERE user_id = ? AND url = ? AND title = ? AND note = ? AND folder = ?");
  return find.Bind(1, userId).Bind(2, fields.url).Bind(3, fields.title).Bind(4, fields.note).Bind(5, fields.folder).Step();
}

std::vector<Image> SqliteStore::Entries(const EntryQuery& query) { return SelectEntries(query, ""); }

std::vector<Image> SqliteStore::SelectEntries(const EntryQuery& query, const char* only) {
  std::optional<std::string> match;
  if (!query.search.empty()) {
    match = SearchQuery(query.search);
    if (!match) return {};
  }
  const int64_t limit = std::max(query.limit, 0), offset = std::max(query.offset, 0);
  std::string where = std::string(" FROM images WHERE user_id = ?1") + only;
  if (query.folder) where += " AND folder = ?2";
  constexpr const char* kNewest = " ORDER BY uploaded DESC, id DESC";
  const std::string page = std::string(kNewest) + " LIMIT ?4 OFFSET ?5";
  std::lock_guard lock(mutex_);
  auto run = [&](const std::string& sql) {
    Statement select(*statements_, sql.c_str());
    select.Bind(1, query.userId);
    if (query.folder) select.Bind(2, *query.folder);
    if (match) select.Bind(3, *match);
    select.Bind(4, limit).Bind(5, offset).Bind(6, std::clamp<int64_t>(100 * (offset + limit), 3000, 20000));
    std::vector<Image> entries;
    while (select.Step()) entries.push_back(ReadImage(select));
    return entries;
  };
  if (!match) return run(std::string("SELECT ") + kImageColumns + where + page);
  // As on PostgreSQL: the newest entries, as many as a hundred pages' worth, against the word
  // index's matches; a word that fills the page among them is found there, and the page is
  // exactly the one of the whole album. Otherwise the word is rare: its matches come from the
  // word index first (CROSS JOIN keeps that order) and are sorted.
  std::vector<Image> recent = run(std::string("SELECT ") + kImageColumns + " FROM (SELECT " + kImageColumns + where +
                                  kNewest + " LIMIT ?6) AS recent WHERE id IN (SELECT rowid FROM entries_index" +
                                  " WHERE entries_index MATCH ?3)" + page);
  if (static_cast<int64_t>(recent.size()) >= limit) return recent;
  std::string prefixed = std::string(" FROM matched CROSS JOIN images ON images.id = matched.rowid WHERE images.user_id = ?1") + only;
  if (query.folder) prefixed += " AND images.folder = ?2";
  return run(std::string("WITH matched AS (SELECT rowid FROM entries_index WHERE entries_index MATCH ?3) SELECT ") +
             kImageColumnsOfImages + prefixed + " ORDER BY images.uploaded DESC, images.id DESC LIMIT ?4 OFFSET ?5");
}

std::optional<Image> SqliteStore::FindEntry(int64_t userId, int64_t entryId) {
  std::lock_guard lock(mutex_);
  Statement find(*statements_, (std::string("SELECT ") + kImageColumns + " FROM images WHERE user_id = ? AND id = ?").c_str());
  if (!find.Bind(1, userId).Bind(2, entryId).Step()) return std::nullopt;
  return ReadImage(find);
}

bool SqliteStore::UpdateEntry(int64_t userId, int64_t entryId, const NewImage& fields) {
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  // Another user's entry is not there at all, whatever folder the change names.
  Statement mine(*statements_, "SELECT 1 FROM images WHERE user_id = ? AND id = ?");
  if (!mine.Bind(1, userId).Bind(2, entryId).Step()) return false;
  if (fields.folder != 0) {
    Statement folder(*statements_, "SELECT 1 FROM folders WHERE user_id = ? AND number = ?");
    if (!folder.Bind(1, userId).Bind(2, fields.folder).Step()) throw StoreError("no such folder");
  }
  Statement update(*statements_, "UPDATE images SET title = ?, note = ?, folder = ?, public = ? WHERE user_id = ? AND id = ?");
  update.Bind(1, fields.title).Bind(2, fields.note).Bind(3, fields.folder).Bind(4, fields.isPublic ? 1 : 0);
  update.Bind(5, userId).Bind(6, entryId).Step();
  if (sqlite3_changes(db_) == 0) return false;
  Statement url(*statements_, "SELECT url FROM images WHERE id = ?");
  url.Bind(1, entryId).Step();
  NewImage indexed = fields;
  indexed.url = url.Text(0);
  IndexEntry(entryId, indexed);
  transaction.Commit();
  return true;
}

bool SqliteStore::DeleteEntry(int64_t userId, int64_t entryId) {
  std::filesystem::path file;
  {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    Statement find(*statements_, "SELECT file FROM images WHERE user_id = ? AND id = ?");
    if (!find.Bind(1, userId).Bind(2, entryId).Step()) return false;
    if (!find.Text(0).empty()) file = imageDir_ / find.Text(0);
    Statement remove(*statements_, "DELETE FROM images WHERE id = ?");
    remove.Bind(1, entryId).Step();
    Statement unindex(*statements_, "DELETE FROM entries_index WHERE rowid = ?");
    unindex.Bind(1, entryId).Step();
    transaction.Commit();
  }
  // The row is gone first: a picture without its row is only a stray file, a row without its
  // picture would be listed and fail to download.
  if (!file.empty()) {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
  }
  return true;
}

Sharing SqliteStore::SharingOf(int64_t userId) {
  std::lock_guard lock(mutex_);
  Statement find(*statements_, "SELECT shared, COALESCE(album, ''), COALESCE(feed_secret, '') FROM sharing WHERE user_id = ?");
  if (!find.Bind(1, userId).Step()) return {};
  return Sharing{find.Int(0) != 0, find.Text(1), find.Text(2)};
}

Sharing SqliteStore::SetSharing(int64_t userId, bool shared, std::string_view album) {
  std::string name(album);
  {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    Statement user(*statements_, "SELECT name, (SELECT album FROM sharing WHERE user_id = users.id) FROM users WHERE id = ?");
    if (!user.Bind(1, userId).Step()) throw StoreError("no such user");
    if (name.empty()) name = user.Text(1).empty() ? user.Text(0) : user.Text(1);
    CheckAlbumName(name);
    // Another user's album, or another user's name (their album to be), is not to be had.
    Statement taken(*statements_, "SELECT 1 FROM sharing WHERE album = ?1 AND user_id != ?2 "
                         "UNION ALL SELECT 1 FROM users WHERE name = ?1 AND id != ?2");
    if (taken.Bind(1, name).Bind(2, userId).Step()) throw StoreError("the album name " + name + " is taken");
    Statement upsert(*statements_, "INSERT INTO sharing(user_id, shared, album) VALUES(?1, ?2, ?3) "
                          "ON CONFLICT(user_id) DO UPDATE SET shared = ?2, album = ?3");
    upsert.Bind(1, userId).Bind(2, shared ? 1 : 0).Bind(3, name).Step();
    transaction.Commit();
  }
  return SharingOf(userId);
}

std::optional<int64_t> SqliteStore::SharedAlbum(std::string_view album) {
  std::lock_guard lock(mutex_);
  Statement find(*statements_, "SELECT user_id FROM sharing WHERE album = ? AND shared = 1");
  if (!find.Bind(1, album).Step()) return std::nullopt;
  return find.Int(0);
}

std::string SqliteStore::ReplaceFeedSecret(int64_t userId, std::string_view secret) {
  if (secret.size() < 16) throw StoreError("a feed secret must be at least 16 characters");
  std::lock_guard lock(mutex_);
  Statement upsert(*statements_, "INSERT INTO sharing(user_id, feed_secret) VALUES(?1, ?2) "
                        "ON CONFLICT(user_id) DO UPDATE SET feed_secret = ?2");
  upsert.Bind(1, userId).Bind(2, secret).Step();
  return std::string(secret);
}

std::optional<int64_t> SqliteStore::FeedOwner(std::string_view secret) {
  if (secret.empty()) return std::nullopt;
  std::lock_guard lock(mutex_);
  Statement find(*statements_, "SELECT user_id FROM sharing WHERE feed_secret = ?");
  if (!find.Bind(1, secret).Step()) return std::nullopt;
  return find.Int(0);
}

std::vector<Image> SqliteStore::PublicEntries(const EntryQuery& query, bool withPicture) {
  return SelectEntries(query, withPicture ? " AND public = 1 AND file != ''" : " AND public = 1");
}

std::optional<Image> SqliteStore::FindPublicEntry(int64_t userId, int64_t entryId) {
  std::lock_guard lock(mutex_);
  Statement find(*statements_, (std::string("SELECT ") + kImageColumns + " FROM images WHERE user_id = ? AND id = ? AND public = 1").c_str());
  if (!find.Bind(1, userId).Bind(2, entryId).Step()) return std::nullopt;
  return ReadImage(find);
}

std::vector<int32_t> SqliteStore::PublicFolders(int64_t userId) {
  std::lock_guard lock(mutex_);
  Statement find(*statements_, "SELECT 0 WHERE EXISTS(SELECT 1 FROM images WHERE user_id = ?1 AND public = 1 AND folder = 0) "
                      "UNION ALL SELECT number FROM (SELECT number, id FROM folders WHERE user_id = ?1 ORDER BY id) f "
                      "WHERE EXISTS(SELECT 1 FROM images WHERE user_id = ?1 AND public = 1 AND folder = f.number)");
  find.Bind(1, userId);
  std::vector<int32_t> numbers;
  while (find.Step()) numbers.push_back(static_cast<int32_t>(find.Int(0)));
  return numbers;
}

Device SqliteStore::AddDevice(int64_t userId, std::string_view name, std::string_view toolbarId) {
  std::string deviceName = DeviceName(name);
  CheckIdentity(toolbarId);
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  Statement user(*statements_, "SELECT 1 FROM users WHERE id = ?");
  if (!user.Bind(1, userId).Step()) throw StoreError("no such user");
  Statement taken(*statements_, kToolbarIdTaken);
  if (taken.Bind(1, toolbarId).Step()) throw StoreError("that ToolbarID is or was some user's already");
  int64_t now = clock_();
  Statement insert(*statements_, "INSERT INTO devices(user_id, toolbar_id, name, created, last_used) VALUES(?, ?, ?, ?, 0)");
  insert.Bind(1, userId).Bind(2, toolbarId).Bind(3, deviceName).Bind(4, now).Step();
  int64_t id = sqlite3_last_insert_rowid(db_);
  transaction.Commit();
  return Device{id, userId, std::string(toolbarId), deviceName, now, 0};
}

std::optional<User> SqliteStore::FindDeviceUser(std::string_view toolbarId) {
  std::lock_guard lock(mutex_);
  // The user's columns as kUserColumns names them, then the device's.
  Statement find(*statements_,
                 "SELECT users.id, users.identity, users.signed_in, users.name, users.password_hash != '',"
                 " devices.id, devices.last_used FROM devices JOIN users ON users.id = devices.user_id"
                 " WHERE devices.toolbar_id = ?");
  if (!find.Bind(1, toolbarId).Step()) return std::nullopt;
  User user = ReadUser(find);
  user.identity = std::string(toolbarId);
  int64_t deviceId = find.Int(5);
  int64_t lastUsed = find.Int(6);
  // Every exchange passes here: a write a minute at most, not one per request.
  int64_t now = clock_();
  if (now >= lastUsed + 60 || now < lastUsed) {
    Statement touch(*statements_, "UPDATE devices SET last_used = ? WHERE id = ?");
    touch.Bind(1, now).Bind(2, deviceId).Step();
  }
  return user;
}

std::vector<Device> SqliteStore::Devices(int64_t userId) {
  std::lock_guard lock(mutex_);
  Statement all(*statements_, "SELECT id, user_id, toolbar_id, name, created, last_used FROM devices WHERE user_id = ? ORDER BY id");
  all.Bind(1, userId);
  std::vector<Device> devices;
  while (all.Step()) {
    devices.push_back(Device{all.Int(0), all.Int(1), all.Text(2), all.Text(3), static_cast<std::time_t>(all.Int(4)),
                             static_cast<std::time_t>(all.Int(5))});
  }
  return devices;
}

bool SqliteStore::RevokeDevice(int64_t userId, int64_t deviceId) {
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  Statement retire(*statements_, "INSERT INTO retired_ids(toolbar_id, user_id) SELECT toolbar_id, user_id FROM devices WHERE id = ? AND user_id = ?");
  retire.Bind(1, deviceId).Bind(2, userId).Step();
  if (sqlite3_changes(db_) == 0) return false;
  Statement remove(*statements_, "DELETE FROM devices WHERE id = ?");
  remove.Bind(1, deviceId).Step();
  transaction.Commit();
  return true;
}

bool SqliteStore::RevokeDevice(std::string_view toolbarId) {
  int64_t deviceId = 0;
  int64_t userId = 0;
  {
    std::lock_guard lock(mutex_);
    Statement find(*statements_, "SELECT id, user_id FROM devices WHERE toolbar_id = ?");
    if (!find.Bind(1, toolbarId).Step()) return false;
    deviceId = find.Int(0);
    userId = find.Int(1);
  }
  return RevokeDevice(userId, deviceId);
}

}  // namespace torvo::service
