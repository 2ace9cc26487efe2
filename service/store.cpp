#include "service/store.h"

#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <system_error>

#include "service/cp949.h"

namespace torvo::service {

namespace {

// One prepared statement; throws StoreError with SQLite's message when a step fails.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) Fail();
  }
  ~Statement() { sqlite3_finalize(stmt_); }
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
    if (rc != SQLITE_DONE) Fail();
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
  [[noreturn]] void Fail() { throw StoreError(std::string("database: ") + sqlite3_errmsg(db_)); }
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
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

bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

std::string FormatLocalTime(std::time_t time, const char* format) {
  std::tm parts{};
  localtime_r(&time, &parts);
  char buffer[32];
  size_t length = std::strftime(buffer, sizeof buffer, format, &parts);
  return std::string(buffer, length);
}

// Names made only of letters, digits, "-" and "_" name their file; others are kept by row id.
bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name.size() <= 100 && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

void WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::path temporary = path;
  temporary += ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      throw StoreError("cannot write " + temporary.string());
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw StoreError("cannot write " + path.string());
  }
}

User ReadUser(const Statement& row) { return User{row.Int(0), row.Text(1), row.Int(2) != 0}; }

constexpr const char* kImageColumns =
    "id, name, file, folder, public, url, title, note, size, uploaded";

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

}  // namespace

Store::Store(const std::filesystem::path& dataDir, Clock clock)
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
    sqlite3_busy_timeout(db_, 10000);
    // WAL lets the command line write while the service reads; NORMAL syncing keeps the database
    // sound on a crash and makes each upload cost no disk flush.
    Execute(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
    Execute(db_, kSchema);
  } catch (...) {
    sqlite3_close(db_);
    throw;
  }
}

Store::~Store() { sqlite3_close(db_); }

User Store::AddUser(std::string_view identity) {
  if (identity.empty()) throw StoreError("an identity must not be empty");
  if (HasControlCharacter(identity) || identity.find_first_of("%&#") != std::string_view::npos) {
    throw StoreError("an identity must not hold \"%\", \"&\", \"#\" or control characters: the clients send it unescaped");
  }
  if (!Utf8ToCp949(identity)) throw StoreError("the identity has characters that code page 949 lacks");
  std::lock_guard lock(mutex_);
  Statement find(db_, "SELECT 1 FROM users WHERE identity = ?");
  if (find.Bind(1, identity).Step()) throw StoreError("the user " + std::string(identity) + " exists already");
  Statement insert(db_, "INSERT INTO users(identity, signed_in) VALUES(?, 1)");
  insert.Bind(1, identity).Step();
  return User{sqlite3_last_insert_rowid(db_), std::string(identity), true};
}

std::optional<User> Store::FindUser(std::string_view identity) {
  std::lock_guard lock(mutex_);
  Statement find(db_, "SELECT id, identity, signed_in FROM users WHERE identity = ?");
  if (!find.Bind(1, identity).Step()) return std::nullopt;
  return ReadUser(find);
}

std::vector<User> Store::Users() {
  std::lock_guard lock(mutex_);
  Statement all(db_, "SELECT id, identity, signed_in FROM users ORDER BY id");
  std::vector<User> users;
  while (all.Step()) users.push_back(ReadUser(all));
  return users;
}

void Store::SetSignedIn(std::string_view identity, bool signedIn) {
  std::lock_guard lock(mutex_);
  Statement update(db_, "UPDATE users SET signed_in = ? WHERE identity = ?");
  update.Bind(1, signedIn ? 1 : 0).Bind(2, identity).Step();
  if (sqlite3_changes(db_) == 0) throw StoreError("no user " + std::string(identity));
}

Folder Store::AddFolder(std::string_view identity, std::string_view name, std::optional<int32_t> number) {
  if (name.find_first_of("|^") != std::string_view::npos || HasControlCharacter(name)) {
    throw StoreError("a folder name must not hold \"|\", \"^\" or control characters");
  }
  if (!Utf8ToCp949(name)) throw StoreError("the folder name has characters that code page 949 lacks");
  if (number == 0) throw StoreError("folder number 0 is the default folder");
  auto user = FindUser(identity);
  if (!user) throw StoreError("no user " + std::string(identity));
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  if (!number) {
    Statement highest(db_, "SELECT MAX(number) FROM folders WHERE user_id = ?");
    highest.Bind(1, user->id).Step();
    int64_t next = std::max<int64_t>(highest.Int(0), 0) + 1;
    if (next > INT32_MAX) throw StoreError("no folder number is left after the highest; give one");
    number = static_cast<int32_t>(next);
  }
  Statement find(db_, "SELECT 1 FROM folders WHERE user_id = ? AND number = ?");
  if (find.Bind(1, user->id).Bind(2, *number).Step()) {
    throw StoreError("the user has a folder number " + std::to_string(*number) + " already");
  }
  Statement insert(db_, "INSERT INTO folders(user_id, number, name) VALUES(?, ?, ?)");
  insert.Bind(1, user->id).Bind(2, *number).Bind(3, name).Step();
  transaction.Commit();
  return Folder{*number, std::string(name)};
}

std::vector<Folder> Store::Folders(int64_t userId) {
  std::lock_guard lock(mutex_);
  Statement all(db_, "SELECT number, name FROM folders WHERE user_id = ? ORDER BY id");
  all.Bind(1, userId);
  std::vector<Folder> folders;
  while (all.Step()) folders.push_back(Folder{static_cast<int32_t>(all.Int(0)), all.Text(1)});
  return folders;
}

bool Store::HasFolder(int64_t userId, int32_t number) {
  std::lock_guard lock(mutex_);
  Statement find(db_, "SELECT 1 FROM folders WHERE user_id = ? AND number = ?");
  return find.Bind(1, userId).Bind(2, number).Step();
}

Image Store::AddImage(int64_t userId, const NewImage& fields, std::string_view png) {
  return Insert(userId, std::nullopt, fields, png);
}

Image Store::AddNamedImage(int64_t userId, std::string_view name, const NewImage& fields, std::string_view png) {
  if (name.find('|') != std::string_view::npos || HasControlCharacter(name)) {
    throw StoreError("an image name must not hold \"|\" or control characters");
  }
  if (!Utf8ToCp949(name)) throw StoreError("the image name has characters that code page 949 lacks");
  return Insert(userId, name, fields, png);
}

std::string Store::NewName() {
  Statement probe(db_, "SELECT 1 FROM images WHERE name = ?");
  for (std::time_t time = clock_();; ++time) {
    std::string name = FormatLocalTime(time, "%Y%m%d%H%M%S");
    if (name.size() != 14) throw StoreError("the clock gives no 14-digit time");
    probe.Reset();
    if (!probe.Bind(1, name).Step()) return name;
  }
}

Image Store::Insert(int64_t userId, std::optional<std::string_view> wantedName, const NewImage& fields,
                    std::string_view png) {
  std::lock_guard lock(mutex_);
  Transaction transaction(db_);
  std::string name = wantedName ? std::string(*wantedName) : NewName();
  if (wantedName) {
    Statement find(db_, "SELECT 1 FROM images WHERE user_id = ? AND name = ?");
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

  Statement insert(db_, R"sql(INSERT INTO images(user_id, name, file, folder, public, url, title, note, size, uploaded)
                              VALUES(?, ?, '', ?, ?, ?, ?, ?, ?, ?))sql");
  insert.Bind(1, userId).Bind(2, name).Bind(3, image.folder).Bind(4, image.isPublic ? 1 : 0);
  insert.Bind(5, image.url).Bind(6, image.title).Bind(7, image.note).Bind(8, image.size).Bind(9, image.uploaded);
  insert.Step();
  image.id = sqlite3_last_insert_rowid(db_);
  image.file = std::to_string(userId) + "/" + (IsPlainFileName(name) ? name : std::string("i").append(std::to_string(image.id))) + ".png";
  Statement setFile(db_, "UPDATE images SET file = ? WHERE id = ?");
  setFile.Bind(1, image.file).Bind(2, image.id).Step();

  std::filesystem::path path = ImagePath(image);
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  if (error) throw StoreError("cannot create " + path.parent_path().string() + ": " + error.message());
  WriteFileAtomically(path, png);
  try {
    transaction.Commit();
  } catch (...) {
    std::filesystem::remove(path, error);
    throw;
  }
  return image;
}

std::vector<Image> Store::Images(int64_t userId) {
  std::lock_guard lock(mutex_);
  Statement all(db_, (std::string("SELECT ") + kImageColumns + " FROM images WHERE user_id = ? ORDER BY id").c_str());
  all.Bind(1, userId);
  std::vector<Image> images;
  while (all.Step()) images.push_back(ReadImage(all));
  return images;
}

std::optional<Image> Store::FindImage(int64_t userId, std::string_view name) {
  std::lock_guard lock(mutex_);
  Statement find(db_, (std::string("SELECT ") + kImageColumns + " FROM images WHERE user_id = ? AND name = ?").c_str());
  if (!find.Bind(1, userId).Bind(2, name).Step()) return std::nullopt;
  return ReadImage(find);
}

std::filesystem::path Store::ImagePath(const Image& image) const { return imageDir_ / image.file; }

}  // namespace torvo::service
