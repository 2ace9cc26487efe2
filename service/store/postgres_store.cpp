#include "service/store/postgres_store.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <set>

#include "service/store/search_text.h"
#include "service/store/sqlite_store.h"

namespace torvo::service {

namespace {

// One parameter of a statement, as text, or as raw bytes for a bytea.
struct Param {
  std::string value;
  bool binary = false;
  bool null = false;
  Param(std::string_view text) : value(text) {}                 // NOLINT: implicit by design
  Param(const std::string& text) : value(text) {}               // NOLINT
  Param(const char* text) : value(text) {}                      // NOLINT
  Param(int64_t number) : value(std::to_string(number)) {}      // NOLINT
  Param(int32_t number) : value(std::to_string(number)) {}      // NOLINT
  Param(bool flag) : value(flag ? "t" : "f") {}                 // NOLINT
  static Param Bytes(std::string_view bytes) {
    Param p{std::string_view(bytes)};
    p.binary = true;
    return p;
  }
};

class Result {
 public:
  explicit Result(PGresult* result) : result_(result) {}
  ~Result() { PQclear(result_); }
  Result(Result&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  int Rows() const { return PQntuples(result_); }
  int64_t Affected() const {
    const char* text = PQcmdTuples(result_);
    return text && *text ? std::stoll(text) : 0;
  }
  std::string Text(int row, int column) const {
    return std::string(PQgetvalue(result_, row, column), static_cast<size_t>(PQgetlength(result_, row, column)));
  }
  int64_t Int(int row, int column) const {
    const char* text = PQgetvalue(result_, row, column);
    return text && *text ? std::stoll(text) : 0;
  }
  bool Bool(int row, int column) const { return PQgetvalue(result_, row, column)[0] == 't'; }
  bool IsNull(int row, int column) const { return PQgetisnull(result_, row, column) != 0; }

 private:
  PGresult* result_;
};

constexpr const char* kUniqueViolation = "23505";

// A connection the server ended while it sat in the pool still reads as good until a statement
// fails on it. An idle connection is sent nothing unasked (the service listens for nothing), so
// anything waiting on its socket, the server's goodbye or the end of the stream, means it ended.
bool EndedWhileIdle(PGconn* conn) {
  if (PQstatus(conn) != CONNECTION_OK || PQsocket(conn) < 0) return true;
  pollfd fd{PQsocket(conn), POLLIN, 0};
  return poll(&fd, 1, 0) != 0;
}

// Runs one statement; throws StoreError with the server's message when it fails. binaryResult:
// columns arrive as raw bytes (for bytea).
Result Exec(PGconn* conn, const char* sql, const std::vector<Param>& params = {}, bool binaryResult = false) {
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  for (const auto& param : params) {
    values.push_back(param.null ? nullptr : param.value.data());
    lengths.push_back(static_cast<int>(param.value.size()));
    formats.push_back(param.binary ? 1 : 0);
  }
  PGresult* result = PQexecParams(conn, sql, static_cast<int>(params.size()), nullptr, values.data(), lengths.data(),
                                  formats.data(), binaryResult ? 1 : 0);
  ExecStatusType status = PQresultStatus(result);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    std::string message = result ? PQresultErrorMessage(result) : PQerrorMessage(conn);
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    bool unique = state && std::string_view(state) == kUniqueViolation;
    PQclear(result);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    throw StoreError(unique ? "database: that is taken already (" + message + ")" : "database: " + message);
  }
  return Result(result);
}

// Statements without parameters, many at once.
void ExecScript(PGconn* conn, const char* sql) {
  PGresult* result = PQexec(conn, sql);
  ExecStatusType status = PQresultStatus(result);
  std::string message = result ? PQresultErrorMessage(result) : PQerrorMessage(conn);
  PQclear(result);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) throw StoreError("database: " + message);
}

// One field of COPY's text form and the tab after it. A text column cannot hold NUL: dropped.
void AppendCopyField(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\0': break;
      default: out += c;
    }
  }
  out += '\t';
}

// Sends rows in COPY's text form to a COPY ... FROM STDIN statement.
void CopyIn(PGconn* conn, const char* sql, std::string_view rows) {
  PGresult* started = PQexec(conn, sql);
  const bool ready = PQresultStatus(started) == PGRES_COPY_IN;
  std::string failure = ready ? "" : started ? PQresultErrorMessage(started) : PQerrorMessage(conn);
  PQclear(started);
  if (ready) {
    bool sent = true;
    for (size_t at = 0; sent && at < rows.size(); at += 1 << 20) {
      std::string_view piece = rows.substr(at, 1 << 20);
      sent = PQputCopyData(conn, piece.data(), static_cast<int>(piece.size())) == 1;
    }
    if (!sent || PQputCopyEnd(conn, nullptr) != 1) failure = PQerrorMessage(conn);
    while (PGresult* result = PQgetResult(conn)) {
      if (PQresultStatus(result) != PGRES_COMMAND_OK && failure.empty()) failure = PQresultErrorMessage(result);
      PQclear(result);
    }
  }
  while (!failure.empty() && (failure.back() == '\n' || failure.back() == ' ')) failure.pop_back();
  if (!ready || !failure.empty()) throw StoreError("database: " + failure);
}

// A transaction that rolls back unless committed.
class Transaction {
 public:
  explicit Transaction(PGconn* conn) : conn_(conn) { Exec(conn_, "BEGIN"); }
  ~Transaction() {
    if (!done_) PQclear(PQexec(conn_, "ROLLBACK"));
  }
  void Commit() {
    Exec(conn_, "COMMIT");
    done_ = true;
  }

 private:
  PGconn* conn_;
  bool done_ = false;
};

// Every statement names its tables in full; the search path of the connection picks the schema.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS torvo_meta(
  key text PRIMARY KEY,
  value text NOT NULL);
CREATE TABLE IF NOT EXISTS users(
  id bigserial PRIMARY KEY,
  identity text NOT NULL UNIQUE,
  signed_in boolean NOT NULL DEFAULT true,
  name text NOT NULL UNIQUE,
  password_hash text NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS retired_ids(
  toolbar_id text PRIMARY KEY,
  user_id bigint NOT NULL REFERENCES users(id));
CREATE TABLE IF NOT EXISTS sessions(
  token_hash text PRIMARY KEY,
  user_id bigint NOT NULL REFERENCES users(id),
  csrf text NOT NULL,
  created bigint NOT NULL,
  seen bigint NOT NULL);
CREATE INDEX IF NOT EXISTS sessions_by_seen ON sessions(seen);
CREATE TABLE IF NOT EXISTS folders(
  id bigserial PRIMARY KEY,
  user_id bigint NOT NULL REFERENCES users(id),
  number integer NOT NULL,
  name text NOT NULL,
  UNIQUE(user_id, number));
CREATE TABLE IF NOT EXISTS images(
  id bigserial PRIMARY KEY,
  user_id bigint NOT NULL REFERENCES users(id),
  name text NOT NULL,
  file text NOT NULL,
  folder integer NOT NULL,
  public boolean NOT NULL,
  url text NOT NULL,
  title text NOT NULL,
  note text NOT NULL,
  size bigint NOT NULL,
  uploaded text NOT NULL,
  search tsvector NOT NULL,
  UNIQUE(user_id, name));
CREATE INDEX IF NOT EXISTS images_by_name ON images(name);
CREATE INDEX IF NOT EXISTS images_newest ON images(user_id, uploaded, id);
CREATE INDEX IF NOT EXISTS images_by_folder ON images(user_id, folder, uploaded, id);
CREATE INDEX IF NOT EXISTS images_search ON images USING gin(search);
CREATE TABLE IF NOT EXISTS pictures(
  image_id bigint PRIMARY KEY REFERENCES images(id) ON DELETE CASCADE,
  png bytea NOT NULL);
CREATE TABLE IF NOT EXISTS image_names(
  name text PRIMARY KEY);
CREATE TABLE IF NOT EXISTS devices(
  id bigserial PRIMARY KEY,
  user_id bigint NOT NULL REFERENCES users(id),
  toolbar_id text NOT NULL UNIQUE,
  name text NOT NULL,
  created bigint NOT NULL,
  last_used bigint NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS devices_by_user ON devices(user_id, id);
CREATE TABLE IF NOT EXISTS sharing(
  user_id bigint PRIMARY KEY REFERENCES users(id),
  shared boolean NOT NULL DEFAULT false,
  album text UNIQUE,
  feed_secret text UNIQUE);
CREATE INDEX IF NOT EXISTS images_public_newest ON images(user_id, public, uploaded, id);
CREATE INDEX IF NOT EXISTS images_public_by_folder ON images(user_id, public, folder, uploaded, id);
CREATE TABLE IF NOT EXISTS sign_in_failures(
  key text PRIMARY KEY,
  failures integer NOT NULL,
  last bigint NOT NULL);
)sql";

constexpr int64_t kSessionIdleSeconds = 30 * 24 * 3600;

// A ToolbarID is never given twice: not while it is a user's or a device's, nor after.
constexpr const char* kToolbarIdTaken =
    "SELECT 1 FROM users WHERE identity = $1 UNION ALL SELECT 1 FROM retired_ids WHERE toolbar_id = $1"
    " UNION ALL SELECT 1 FROM devices WHERE toolbar_id = $1";
// Only one process creates the tables at a time: a number of our own for the advisory lock.
constexpr int64_t kSchemaLock = 0x746f72766f;

constexpr const char* kUserColumns = "id, identity, signed_in, name, password_hash != ''";

User ReadUser(const Result& row, int r = 0) {
  return User{row.Int(r, 0), row.Text(r, 1), row.Bool(r, 2), row.Text(r, 3), row.Bool(r, 4)};
}

constexpr const char* kImageColumns = "id, name, file, folder, public, url, title, note, size, uploaded";

Image ReadImage(const Result& row, int r) {
  Image image;
  image.id = row.Int(r, 0);
  image.name = row.Text(r, 1);
  image.file = row.Text(r, 2);
  image.folder = static_cast<int32_t>(row.Int(r, 3));
  image.isPublic = row.Bool(r, 4);
  image.url = row.Text(r, 5);
  image.title = row.Text(r, 6);
  image.note = row.Text(r, 7);
  image.size = row.Int(r, 8);
  image.uploaded = row.Text(r, 9);
  return image;
}

std::vector<Image> ReadImages(const Result& rows) {
  std::vector<Image> images;
  images.reserve(static_cast<size_t>(rows.Rows()));
  for (int r = 0; r < rows.Rows(); ++r) images.push_back(ReadImage(rows, r));
  return images;
}

bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name.size() <= 100 && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

// A lexeme quoted for the text form of tsvector and tsquery.
std::string Quoted(std::string_view term) {
  std::string out = "'";
  for (char c : term) {
    if (c == '\'') out += "''";
    else if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out + "'";
}

bool IsUtf8Name(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text.find("utf8") != std::string::npos || text.find("utf-8") != std::string::npos;
}

}  // namespace

std::string SearchVector(std::string_view title, std::string_view url, std::string_view note) {
  // tsvector positions end at 16383; each field starts a thousand after the last, so no phrase
  // runs from one field into the next.
  std::string out;
  int start = 1;
  for (std::string_view field : {title, url, note}) {
    int position = start;
    for (const auto& term : IndexTerms(field)) {
      if (term.size() > 2000) continue;  // longer lexemes are refused; no one searches for them
      if (!out.empty()) out += ' ';
      out += Quoted(term) + ":" + std::to_string(std::min(position, 16383));
      ++position;
    }
    start = std::min(position + 1000, 16000);
  }
  return out;
}

std::optional<std::string> SearchTsQuery(std::string_view words) {
  std::string query;
  for (const auto& term : QueryTerms(words)) {
    if (!query.empty()) query += " & ";
    if (term.prefix) {
      query += Quoted(term.phrase[0]) + ":*";
      continue;
    }
    query += "(";
    for (size_t i = 0; i < term.phrase.size(); ++i) query += (i ? " <-> " : "") + Quoted(term.phrase[i]);
    query += ")";
  }
  if (query.empty()) return std::nullopt;
  return query;
}

PostgresStore::Lease::Lease(PostgresStore& store) : store_(store), conn_(nullptr) {
  {
    std::unique_lock lock(store_.poolMutex_);
    store_.poolFree_.wait(lock, [&] { return !store_.idle_.empty() || store_.open_ < store_.most_; });
    if (!store_.idle_.empty()) {
      conn_ = store_.idle_.back();
      store_.idle_.pop_back();
    } else {
      ++store_.open_;
    }
  }
  try {
    // A connection the server dropped (a restart, a fail-over) is made again.
    if (conn_ && EndedWhileIdle(conn_)) {
      PQfinish(conn_);
      conn_ = nullptr;
    }
    if (!conn_) conn_ = store_.Connect();
  } catch (...) {
    std::lock_guard lock(store_.poolMutex_);
    --store_.open_;
    store_.poolFree_.notify_one();
    throw;
  }
}

PostgresStore::Lease::~Lease() {
  std::lock_guard lock(store_.poolMutex_);
  // One left inside a transaction (a failed rollback) is not handed to the next caller.
  if (PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) == PQTRANS_IDLE) {
    store_.idle_.push_back(conn_);
  } else {
    PQfinish(conn_);
    --store_.open_;
  }
  store_.poolFree_.notify_one();
}

PGconn* PostgresStore::Connect() {
  const char* keywords[] = {"connect_timeout", "dbname", "client_encoding", "application_name", nullptr};
  const char* values[] = {"10", connection_.c_str(), "UTF8", "torvo-service", nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, 1);
  if (PQstatus(conn) != CONNECTION_OK) {
    std::string message = conn ? PQerrorMessage(conn) : "out of memory";
    PQfinish(conn);
    while (!message.empty() && message.back() == '\n') message.pop_back();
    throw StoreError("cannot connect to the database: " + message);
  }
  return conn;
}

PostgresStore::PostgresStore(std::string connection, Clock clock, int connections)
    : connection_(std::move(connection)), clock_(std::move(clock)), most_(std::max(connections, 1)) {
  if (!clock_) clock_ = [] { return std::time(nullptr); };
  try {
    Open();
  } catch (...) {
    // The destructor does not run for a store that failed to open: its connections end here.
    for (PGconn* conn : idle_) PQfinish(conn);
    idle_.clear();
    throw;
  }
}

void PostgresStore::Open() {
  CheckDatabase();
  CreateSchema();
}

void PostgresStore::CheckDatabase() {
  Lease lease(*this);
  PGconn* conn = lease.get();
  description_ = std::string("postgresql ") + (PQhost(conn) ? PQhost(conn) : "") + ":" +
                 (PQport(conn) ? PQport(conn) : "") + "/" + (PQdb(conn) ? PQdb(conn) : "");
  // Hangul in a database of another encoding or of the C character type loses its letters in
  // PostgreSQL's own text functions; refuse it at once rather than store what cannot be found.
  Result about = Exec(conn, "SELECT pg_encoding_to_char(encoding), datctype FROM pg_database WHERE datname = current_database()");
  if (about.Rows() == 1 && (!IsUtf8Name(about.Text(0, 0)) || !IsUtf8Name(about.Text(0, 1)))) {
    throw StoreError("the database " + std::string(PQdb(conn)) + " has encoding " + about.Text(0, 0) + " and character type " +
                     about.Text(0, 1) + "; create it with ENCODING 'UTF8' LC_COLLATE 'C.UTF-8' LC_CTYPE 'C.UTF-8' TEMPLATE template0");
  }
}

PostgresStore::~PostgresStore() {
  for (PGconn* conn : idle_) PQfinish(conn);
}

void PostgresStore::CreateSchema() {
  Lease lease(*this);
  PGconn* conn = lease.get();
  Transaction transaction(conn);
  // Several processes starting on a new database at once: one makes the tables, the others wait.
  Exec(conn, "SELECT pg_advisory_xact_lock($1)", {kSchemaLock});
  Exec(conn, "SET LOCAL client_min_messages = warning");  // not a notice per table that exists
  ExecScript(conn, kSchema);
  Result layout = Exec(conn, "SELECT value FROM torvo_meta WHERE key = 'layout'");
  if (!layout.Rows()) {
    Exec(conn, "INSERT INTO torvo_meta(key, value) VALUES('layout', $1)", {std::to_string(kSchemaVersion)});
  } else if (std::stoi(layout.Text(0, 0)) > kSchemaVersion) {
    throw StoreError("the database was written by a newer torvo-service (layout " + layout.Text(0, 0) +
                     "; this one knows up to " + std::to_string(kSchemaVersion) + ")");
  }
  transaction.Commit();
}

std::optional<std::string> PostgresStore::Unhealthy() {
  try {
    Lease lease(*this);
    Exec(lease.get(), "SELECT 1");
    return std::nullopt;
  } catch (const std::exception& error) {
    return std::string(error.what());
  }
}

bool PostgresStore::IsEmpty() {
  Lease lease(*this);
  Result rows = Exec(lease.get(), "SELECT (SELECT count(*) FROM users) + (SELECT count(*) FROM images) + (SELECT count(*) FROM folders)");
  return rows.Int(0, 0) == 0;
}

User PostgresStore::AddAccount(std::string_view name, std::string_view toolbarId) {
  CheckUserName(name);
  CheckIdentity(toolbarId);
  Lease lease(*this);
  PGconn* conn = lease.get();
  Transaction transaction(conn);
  Exec(conn, "LOCK TABLE users IN SHARE ROW EXCLUSIVE MODE");
  if (Exec(conn, "SELECT 1 FROM users WHERE name = $1", {name}).Rows()) {
    throw StoreError("the user " + std::string(name) + " exists already");
  }
  if (Exec(conn, kToolbarIdTaken, {toolbarId}).Rows()) {
    throw StoreError("that ToolbarID is or was some user's already");
  }
  Result inserted = Exec(conn, "INSERT INTO users(identity, signed_in, name) VALUES($1, true, $2) RETURNING id", {toolbarId, name});
  transaction.Commit();
  return User{inserted.Int(0, 0), std::string(toolbarId), true, std::string(name), false};
}

std::optional<User> PostgresStore::FindUserByName(std::string_view name) {
  Lease lease(*this);
  Result found = Exec(lease.get(), (std::string("SELECT ") + kUserColumns + " FROM users WHERE name = $1").c_str(), {name});
  if (!found.Rows()) return std::nullopt;
  return ReadUser(found);
}

std::optional<User> PostgresStore::FindUserById(int64_t userId) {
  Lease lease(*this);
  Result found = Exec(lease.get(), (std::string("SELECT ") + kUserColumns + " FROM users WHERE id = $1").c_str(), {userId});
  if (!found.Rows()) return std::nullopt;
  return ReadUser(found);
}

std::optional<User> PostgresStore::FindUser(std::string_view identity) {
  Lease lease(*this);
  Result found = Exec(lease.get(), (std::string("SELECT ") + kUserColumns + " FROM users WHERE identity = $1").c_str(), {identity});
  if (found.Rows()) return ReadUser(found);
  Result retired = Exec(lease.get(), (std::string("SELECT ") + kUserColumns +
                                      " FROM users WHERE id = (SELECT user_id FROM retired_ids WHERE toolbar_id = $1)").c_str(),
                        {identity});
  if (!retired.Rows()) return std::nullopt;
  User user = ReadUser(retired);
  user.identity = std::string(identity);
  user.signedIn = false;
  return user;
}

std::vector<User> PostgresStore::Users() {
  Lease lease(*this);
  Result all = Exec(lease.get(), (std::string("SELECT ") + kUserColumns + " FROM users ORDER BY id").c_str());
  std::vector<User> users;
  for (int r = 0; r < all.Rows(); ++r) users.push_back(ReadUser(all, r));
  return users;
}

void PostgresStore::SetSignedIn(std::string_view identity, bool signedIn) {
  Lease lease(*this);
  if (Exec(lease.get(), "UPDATE users SET signed_in = $1 WHERE identity = $2", {signedIn, identity}).Affected() == 0) {
    throw StoreError("no user " + std::string(identity));
  }
}

void PostgresStore::SetPasswordHash(int64_t userId, std::string_view hash) {
  Lease lease(*this);
  PGconn* conn = lease.get();
  Transaction transaction(conn);
  if (Exec(conn, "UPDATE users SET password_hash = $1 WHERE id = $2", {hash, userId}).Affected() == 0) {
    throw StoreError("no such user");
  }
  // A new password ends every session the old one opened.
  Exec(conn, "DELETE FROM sessions WHERE user_id = $1", {userId});
  transaction.Commit();
}

std::string PostgresStore::PasswordHash(int64_t userId) {
  Lease lease(*this);
  Result found = Exec(lease.get(), "SELECT password_hash FROM users WHERE id = $1", {userId});
  return found.Rows() ? found.Text(0, 0) : std::string{};
}

void PostgresStore::ReplaceToolbarId(int64_t userId, std::string_view toolbarId) {
  CheckIdentity(toolbarId);
  Lease lease(*this);
  PGconn* conn = lease.get();
  Transaction transaction(conn);
  Exec(conn, "LOCK TABLE users IN SHARE ROW EXCLUSIVE MODE");
  if (Exec(conn, kToolbarIdTaken, {toolbarId}).Rows()) {
    throw StoreError("that ToolbarID is or was some user's already");
  }
  if (Exec(conn, "INSERT INTO retired_ids(toolbar_id, user_id) SELECT identity, id FROM users WHERE id = $1", {userId}).Affected() == 0) {
    throw StoreError("no such user");
  }
  Exec(conn, "UPDATE users SET identity = $1 WHERE id = $2", {toolbarId, userId});
  transaction.Commit();
}

Device PostgresStore::AddDevice(int64_t userId, std::string_view name, std::string_view toolbarId) {
  std::string deviceName = DeviceName(name);
  CheckIdentity(toolbarId);
  Lease lease(*this);
  PGconn* conn = lease.get();
  Transaction transaction(conn);
  Exec(conn, "LOCK TABLE users IN SHARE ROW EXCLUSIVE MODE");
  if (!Exec(conn, "SELECT 1 FROM users WHERE id = $1", {userId}).Rows()) throw StoreError("no such user");
  if (Exec(conn, kToolbarIdTaken, {toolbarId}).Rows()) throw StoreError("that ToolbarID is or was some user's already");
  int64_t now = clock_();
  Result inserted = Exec(conn, "INSERT INTO devices(user_id, toolbar_id, name, created, last_used) VALUES($1, $2, $3, $4, 0) RETURNING id",
                         {userId, toolbarId, deviceName, now});
  transaction.Commit();
  return Device{inserted.Int(0, 0), userId, std::string(toolbarId), deviceName, now, 0};
}

std::optional<User> PostgresStore::FindDeviceUser(std::string_view toolbarId) {
  Lease lease(*this);
  Result found = Exec(lease.get(),
                      "SELECT users.id, users.identity, users.signed_in, users.name, users.password_hash != '',"
                      " devices.id, devices.last_used FROM devices JOIN users ON users.id = devices.user_id"
                      " WHERE devices.toolbar_id = $1",
                      {toolbarId});
  if (!found.Rows()) return std::nullopt;
  User user = ReadUser(found);
  user.identity = std::string(toolbarId);
  int64_t lastUsed = found.Int(0, 6);
  // Every exchange passes here: a write a minute at most, not one per request.
  int64_t now = clock_();
  if (now >= lastUsed + 60 || now < lastUsed) {
    Exec(lease.get(), "UPDATE devices SET last_used = $1 WHERE id = $2", {now, found.Int(0, 5)});
  }
  return user;
}

std::vector<Device> PostgresStore::Devices(int64_t userId) {
  Lease lease(*this);
  Result all = Exec(lease.get(), "SELECT id, user_id, toolbar_id, name, created, last_used FROM devices WHERE user_id = $1 ORDER BY id",
                    {userId});
  std::vector<Device> devices;
  for (int r = 0; r < all.Rows(); ++r) {
    devices.push_back(Device{all.Int(r, 0), all.Int(r, 1), all.Text(r, 2), all.Text(r, 3), static_cast<std::time_t>(all.Int(r, 4)),
                             static_cast<std::time_t>(all.Int(r, 5))});
  }
  return devices;
}

bool PostgresStore::RevokeDevice(int64_t userId, int64_t deviceId) {
  Lease lease(*this);
  PGconn* conn = lease.get();
  Transaction transaction(conn);
  Result removed = Exec(conn, "DELETE FROM devices WHERE id = $1 AND user_id = $2 RETURNING toolbar_id", {deviceId, userId});
  if (!removed.Rows()) return false;
  Exec(conn, "INSERT INTO retired_ids(toolbar_id, user_id) VALUES($1, $2)", {removed.Text(0, 0), userId});
  transaction.Commit();
  return true;
}

bool PostgresStore::RevokeDevice(std::string_view toolbarId) {
  Lease lease(*this);
  PGconn* conn = lease.get();
  Transaction transaction(conn);
  Result removed = Exec(conn, "DELETE FROM devices WHERE toolbar_id = $1 RETURNING user_id", {toolbarId});
  if (!removed.Rows()) return false;
  Exec(conn, "INSERT INTO retired_ids(toolbar_id, user_id) VALUES($1, $2)", {toolbarId, removed.Int(0, 0)});
  transaction.Commit();
  return true;
}

void PostgresStore::AddSession(std::string_view tokenHash, int64_t userId, std::string_view csrf) {
  Lease lease(*this);
  int64_t now = clock_();
  Exec(lease.get(), "DELETE FROM sessions WHERE seen < $1", {now - kSessionIdleSeconds});
  Exec(lease.get(), "INSERT INTO sessions(token_hash, user_id, csrf, created, seen) VALUES($1, $2, $3, $4, $4)",
       {tokenHash, userId, csrf, now});
}

std::optional<Session> PostgresStore::FindSession(std::string_view tokenHash) {
  Lease lease(*this);
  int64_t now = clock_();
  Result found = Exec(lease.get(), "SELECT user_id, csrf, seen FROM sessions WHERE token_hash = $1", {tokenHash});
  if (!found.Rows()) return std::nullopt;
  Session session{found.Int(0, 0), found.Text(0, 1)};
  int64_t seen = found.Int(0, 2);
  if (seen < now - kSessionIdleSeconds) return std::nullopt;
  if (seen < now - 60) {  // a write a minute at most, not one per page
    Exec(lease.get(), "UPDATE sessions SET seen = $1 WHERE token_hash = $2", {now, tokenHash});
  }
  return session;
}

void PostgresStore::RemoveSession(std::string_view tokenHash) {
  Lease lease(*this);
  Exec(lease.get(), "DELETE FROM sessions WHERE token_hash = $1", {tokenHash});
}

SignInCounts::Count PostgresStore::Get(const std::string& key) {
  Lease lease(*this);
  Result found = Exec(lease.get(), "SELECT failures, last FROM sign_in_failures WHERE key = $1", {key});
  if (!found.Rows()) return Count{};
  return Count{static_cast<int>(found.Int(0, 0)), static_cast<std::time_t>(found.Int(0, 1))};
}

void PostgresStore::AddFailure(const std::string& key, std::time_t now) {
  Lease lease(*this);
  // A day without failures forgets a name or an address.
  Exec(lease.get(), "DELETE FROM sign_in_failures WHERE last < $1", {static_cast<int64_t>(now) - 24 * 3600});
  Exec(lease.get(), R"sql(INSERT INTO sign_in_failures(key, failures, last) VALUES($1, 1, $2)
                          ON CONFLICT(key) DO UPDATE SET failures = sign_in_failures.failures + 1, last = $2)sql",
       {key, static_cast<int64_t>(now)});
}

void PostgresStore::Clear(const std::string& key) {
  Lease lease(*this);
  Exec(lease.get(), "DELETE FROM sign_in_failures WHERE key = $1", {key});
}

Folder PostgresStore::AddFolder(std::string_view identity, std::string_view name, std::optional<int32_t> number) {
  CheckFolderName(name);
  if (number == 0) throw StoreError("folder number 0 is the default folder");
  auto user = FindUser(identity);
  if (!user) throw StoreError("no user " + std::string(identity));
  Lease lease(*this);
  PGconn* conn = lease.get();
  Transaction transaction(conn);
  // One folder added at a time per user, so two processes never take the same next number.
  Exec(conn, "SELECT 1 FROM users WHERE id = $1 FOR UPDATE", {user->id});
  if (!number) {
    Result highest = Exec(conn, "SELECT COALESCE(MAX(number), 0) FROM folders WHERE user_id = $1", {user->id});
    int64_t next = std::max<int64_t>(highest.Int(0, 0), 0) + 1;
    if (next > INT32_MAX) throw StoreError("no folder number is left after the highest; give one");
    number = static_cast<int32_t>(next);
  }
  if (Exec(conn, "SELECT 1 FROM folders WHERE user_id = $1 AND number = $2", {user->id, *number}).Rows()) {
    throw StoreError("the user has a folder number " + std::to_string(*number) + " already");
  }
  Exec(conn, "INSERT INTO folders(user_id, number, name) VALUES($1, $2, $3)", {user->id, *number, name});
  transaction.Commit();
  return Folder{*number, std::string(name)};
}

std::vector<Folder> PostgresStore::Folders(int64_t userId) {
  Lease lease(*this);
  Result all = Exec(lease.get(), "SELECT number, name FROM folders WHERE user_id = $1 ORDER BY id", {userId});
  std::vector<Folder> folders;
  for (int r = 0; r < all.Rows(); ++r) folders.push_back(Folder{static_cast<int32_t>(all.Int(r, 0)), all.Text(r, 1)});
  return folders;
}

bool PostgresStore::HasFolder(int64_t userId, int32_t number) {
  Lease lease(*this);
  return Exec(lease.get(), "SELECT 1 FROM folders WHERE user_id = $1 AND number = $2", {userId, number}).Rows() > 0;
}

void PostgresStore::RenameFolder(int64_t userId, int32_t number, std::string_view name) {
  CheckFolderName(name);
  Lease lease(*this);
  if (Exec(lease.get(), "UPDATE folders SET name = $1 WHERE user_id = $2 AND number = $3", {name, userId, number}).Affected() == 0) {
    throw StoreError("no such folder");
  }
}

void PostgresStore::RemoveFolder(int64_t userId, int32_t number) {
  Lease lease(*this);
  PGconn* conn = lease.get();
  Transaction transaction(conn);
  if (Exec(conn, "DELETE FROM folders WHERE user_id = $1 AND number = $2", {userId, number}).Affected() == 0) {
    throw StoreError("no such folder");
  }
  Exec(conn, "UPDATE images SET folder = 0 WHERE user_id = $1 AND folder = $2", {userId, number});
  transaction.Commit();
}

std::string PostgresStore::ClaimName(PGconn* conn) {
  // A name is claimed in image_names: a second claim of the same one waits for the first to
  // commit and then moves on. Claimed names are never freed, so a claim whose upload fails or
  // dies leaves only a second no one is named after. Under a burst the names run ahead of the
  // clock: the taken ones from now on are read at once and the first free second tried, rather
  // than one second per round trip.
  for (;;) {
    const std::time_t now = clock_();
    const std::string from = FormatLocalTime(now, "%Y%m%d%H%M%S");
    if (from.size() != 14) throw StoreError("the clock gives no 14-digit time");
    Result rows = Exec(conn, R"sql(SELECT name FROM image_names WHERE name >= $1 AND name <= '99999999999999'
                                   UNION SELECT name FROM images WHERE name >= $1 AND name <= '99999999999999')sql",
                       {from});
    std::set<std::string> taken;
    for (int r = 0; r < rows.Rows(); ++r) taken.insert(rows.Text(r, 0));
    std::string name = from;
    for (std::time_t time = now; taken.count(name); name = FormatLocalTime(++time, "%Y%m%d%H%M%S")) {
    }
    if (name.size() != 14) throw StoreError("the clock gives no 14-digit time");
    // Its commit need not wait for the disk: the upload's own commit, later in the same log,
    // makes it durable before anyone is told the name.
    Transaction claim(conn);
    Exec(conn, "SET LOCAL synchronous_commit = off");
    Result claimed = Exec(conn, R"sql(INSERT INTO image_names(name) SELECT $1
                                      WHERE NOT EXISTS (SELECT 1 FROM images WHERE name = $1)
                                      ON CONFLICT DO NOTHING RETURNING name)sql",
                          {name});
    claim.Commit();
    if (claimed.Rows()) return name;
  }
}

Image PostgresStore::Insert(int64_t userId, std::optional<std::string_view> wantedName, const NewImage& fields,
                            std::string_view png) {
  Lease lease(*this);
  PGconn* conn = lease.get();
  // Claimed before the upload's own transaction and committed at once: uploads on any process
  // wait for each other's claim, not for each other's whole upload.
  std::string name = wantedName ? std::string(*wantedName) : ClaimName(conn);
  Transaction transaction(conn);
  if (wantedName) {
    if (Exec(conn, "SELECT 1 FROM images WHERE user_id = $1 AND name = $2", {userId, name}).Rows()) {
      throw StoreError("the user has an image " + name + " already");
    }
  }
  Image image;
  image.id = Exec(conn, "SELECT nextval(pg_get_serial_sequence('images', 'id'))").Int(0, 0);
  image.name = name;
  image.folder = fields.folder;
  image.isPublic = fields.isPublic;
  image.url = fields.url;
  image.title = fields.title;
  image.note = fields.note;
  image.size = static_cast<int64_t>(png.size());
  image.uploaded = FormatLocalTime(clock_(), "%Y-%m-%d %H:%M:%S");
  // The same relative name as the embedded store's file: what exports and moving over rely on.
  image.file = std::to_string(userId) + "/" + (IsPlainFileName(name) ? name : std::string("i").append(std::to_string(image.id))) + ".png";
  Exec(conn, R"sql(INSERT INTO images(id, user_id, name, file, folder, public, url, title, note, size, uploaded, search)
                   VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12::tsvector))sql",
       {image.id, userId, name, image.file, image.folder, image.isPublic, image.url, image.title, image.note, image.size,
        image.uploaded, SearchVector(fields.title, fields.url, fields.note)});
  Exec(conn, "INSERT INTO pictures(image_id, png) VALUES($1, $2)", {image.id, Param::Bytes(png)});
  transaction.Commit();
  return image;
}

Image PostgresStore::AddEntry(int64_t userId, const NewImage& fields, std::time_t added) {
  Lease lease(*this);
  PGconn* conn = lease.get();
  Transaction transaction(conn);
  if (fields.folder != 0 && !Exec(conn, "SELECT 1 FROM folders WHERE user_id = $1 AND number = $2", {userId, fields.folder}).Rows()) {
    throw StoreError("no such folder");
  }
  Image image;
  image.id = Exec(conn, "SELECT nextval(pg_get_serial_sequence('images', 'id'))").Int(0, 0);
  image.name = "entry-" + std::to_string(image.id);
  image.folder = fields.folder;
  image.isPublic = fields.isPublic;
  image.url = fields.url;
  image.title = fields.title;
  image.note = fields.note;
  image.uploaded = FormatLocalTime(added, "%Y-%m-%d %H:%M:%S");
  Exec(conn, R"sql(INSERT INTO images(id, user_id, name, file, folder, public, url, title, note, size, uploaded, search)
                   VALUES($1, $2, $3, '', $4, $5, $6, $7, $8, 0, $9, $10::tsvector))sql",
       {image.id, userId, image.name, image.folder, image.isPublic, image.url, image.title, image.note, image.uploaded,
        SearchVector(fields.title, fields.url, fields.note)});
  transaction.Commit();
  return image;
}

size_t PostgresStore::AddEntries(int64_t userId, const std::vector<NewEntry>& entries) {
  constexpr size_t kBatch = 10000;  // rows numbered and sent at a time
  {
    Lease lease(*this);
    PGconn* conn = lease.get();
    Transaction transaction(conn);
    std::set<int64_t> folders{0};
    Result numbers = Exec(conn, "SELECT number FROM folders WHERE user_id = $1", {userId});
    for (int r = 0; r < numbers.Rows(); ++r) folders.insert(numbers.Int(r, 0));
    std::string rows;
    for (size_t start = 0; start < entries.size(); start += kBatch) {
      const size_t count = std::min(kBatch, entries.size() - start);
      Result ids = Exec(conn, "SELECT nextval(pg_get_serial_sequence('images', 'id')) FROM generate_series(1, $1)",
                        {static_cast<int64_t>(count)});
      rows.clear();
      for (size_t i = 0; i < count; ++i) {
        const NewEntry& entry = entries[start + i];
        const NewImage& fields = entry.fields;
        if (!folders.count(fields.folder)) throw StoreError("no such folder");
        const std::string id = ids.Text(static_cast<int>(i), 0);
        for (const std::string& column :
             {id, std::to_string(userId), "entry-" + id, std::string(), std::to_string(fields.folder),
              std::string(fields.isPublic ? "t" : "f"), fields.url, fields.title, fields.note, std::string("0"),
              FormatLocalTime(entry.added, "%Y-%m-%d %H:%M:%S"), SearchVector(fields.title, fields.url, fields.note)}) {
          AppendCopyField(rows, column);
        }
        rows.back() = '\n';
      }
      CopyIn(conn, "COPY images(id, user_id, name, file, folder, public, url, title, note, size, uploaded, search) FROM STDIN",
             rows);
    }
    transaction.Commit();
  }
  // A large album changes what the planner should expect of a search word: tell it now rather
  // than when autovacuum comes round.
  if (entries.size() >= kBatch) {
    Lease lease(*this);
    Exec(lease.get(), "ANALYZE images");
  }
  return entries.size();
}

bool PostgresStore::HasEntry(int64_t userId, const NewImage& fields) {
  Lease lease(*this);
  return Exec(lease.get(), "SELECT 1 FROM images WHERE user_id = $1 AND url = $2 AND title = $3 AND note = $4 AND folder = $5",
              {userId, fields.url, fields.title, fields.note, fields.folder}).Rows() > 0;
}

std::vector<Image> PostgresStore::Images(int64_t userId) {
  Lease lease(*this);
  return ReadImages(Exec(lease.get(), (std::string("SELECT ") + kImageColumns +
                                       " FROM images WHERE user_id = $1 AND file != '' ORDER BY id").c_str(), {userId}));
}

std::optional<Image> PostgresStore::FindImage(int64_t userId, std::string_view name) {
  Lease lease(*this);
  Result found = Exec(lease.get(), (std::string("SELECT ") + kImageColumns +
                                    " FROM images WHERE user_id = $1 AND name = $2 AND file != ''").c_str(), {userId, name});
  if (!found.Rows()) return std::nullopt;
  return ReadImage(found, 0);
}

std::optional<std::string> PostgresStore::Picture(const Image& image) {
  if (!image.HasPicture()) return std::nullopt;
  Lease lease(*this);
  Result found = Exec(lease.get(), "SELECT png FROM pictures WHERE image_id = $1::bigint", {image.id}, true);
  if (!found.Rows()) return std::nullopt;
  return found.Text(0, 0);
}

std::vector<Image> PostgresStore::Entries(const EntryQuery& query) { return SelectEntries(query, ""); }

std::vector<Image> PostgresStore::SelectEntries(const EntryQuery& query, const char* only) {
  std::optional<std::string> match;
  if (!query.search.empty()) {
    match = SearchTsQuery(query.search);
    if (!match) return {};
  }
  const int64_t limit = std::max(query.limit, 0), offset = std::max(query.offset, 0);
  std::string where = std::string(" FROM images WHERE user_id = $1") + only;
  std::vector<Param> params{query.userId, limit, offset};
  if (query.folder) {
    params.emplace_back(*query.folder);
    where += " AND folder = $" + std::to_string(params.size());
  }
  constexpr const char* kNewest = " ORDER BY uploaded DESC, id DESC";
  const std::string page = std::string(kNewest) + " LIMIT $2 OFFSET $3";
  Lease lease(*this);
  if (!match) return ReadImages(Exec(lease.get(), (std::string("SELECT ") + kImageColumns + where + page).c_str(), params));

  // A search has two good plans: walk the newest entries until a page of matches is found (a
  // common word), or take every match from the word index and sort them (a rare one). The planner
  // cannot tell which from its statistics, which know only the commonest words, and a wrong
  // guess costs a walk through the whole album. So: first the newest entries, as many as a
  // hundred pages' worth; a word that fills the page among them is found there, and the page is
  // exactly the one of the whole album, since every match outside is older. Otherwise the word
  // is in fewer than one entry of a hundred, and its matches come from the index.
  params.emplace_back(*match);
  const std::string matches = " search @@ $" + std::to_string(params.size()) + "::tsquery";
  params.emplace_back(std::clamp<int64_t>(100 * (offset + limit), 3000, 20000));
  const std::string newest = "$" + std::to_string(params.size());
  Result recent = Exec(lease.get(), (std::string("SELECT ") + kImageColumns + " FROM (SELECT " + kImageColumns + ", search" +
                                     where + kNewest + " LIMIT " + newest + ") recent WHERE" + matches + page).c_str(),
                       params);
  if (recent.Rows() >= limit) return ReadImages(recent);
  params.pop_back();
  // Materialized: planned for all its rows, which is the word index's work, never a walk.
  return ReadImages(Exec(lease.get(), (std::string("WITH found AS MATERIALIZED (SELECT ") + kImageColumns + where + " AND" +
                                       matches + ") SELECT * FROM found" + page).c_str(),
                         params));
}

Sharing PostgresStore::SharingOf(int64_t userId) {
  Lease lease(*this);
  Result found = Exec(lease.get(), "SELECT shared, COALESCE(album, ''), COALESCE(feed_secret, '') FROM sharing WHERE user_id = $1",
                      {userId});
  if (!found.Rows()) return {};
  return Sharing{found.Bool(0, 0), found.Text(0, 1), found.Text(0, 2)};
}

Sharing PostgresStore::SetSharing(int64_t userId, bool shared, std::string_view album) {
  std::string name(album);
  {
    Lease lease(*this);
    PGconn* conn = lease.get();
    Transaction transaction(conn);
    // Album names and user names are checked against each other: one at a time.
    Exec(conn, "LOCK TABLE sharing IN SHARE ROW EXCLUSIVE MODE");
    Result user = Exec(conn, "SELECT name, COALESCE((SELECT album FROM sharing WHERE user_id = users.id), '') FROM users WHERE id = $1",
                       {userId});
    if (!user.Rows()) throw StoreError("no such user");
    if (name.empty()) name = user.Text(0, 1).empty() ? user.Text(0, 0) : user.Text(0, 1);
    CheckAlbumName(name);
    if (Exec(conn, "SELECT 1 FROM sharing WHERE album = $1 AND user_id != $2 UNION ALL SELECT 1 FROM users WHERE name = $1 AND id != $2",
             {name, userId}).Rows()) {
      throw StoreError("the album name " + name + " is taken");
    }
    Exec(conn, "INSERT INTO sharing(user_id, shared, album) VALUES($1, $2, $3) ON CONFLICT(user_id) DO UPDATE SET shared = $2, album = $3",
         {userId, shared, name});
    transaction.Commit();
  }
  return SharingOf(userId);
}

std::optional<int64_t> PostgresStore::SharedAlbum(std::string_view album) {
  Lease lease(*this);
  Result found = Exec(lease.get(), "SELECT user_id FROM sharing WHERE album = $1 AND shared", {album});
  if (!found.Rows()) return std::nullopt;
  return found.Int(0, 0);
}

std::string PostgresStore::ReplaceFeedSecret(int64_t userId, std::string_view secret) {
  if (secret.size() < 16) throw StoreError("a feed secret must be at least 16 characters");
  Lease lease(*this);
  Exec(lease.get(), "INSERT INTO sharing(user_id, feed_secret) VALUES($1, $2) ON CONFLICT(user_id) DO UPDATE SET feed_secret = $2",
       {userId, secret});
  return std::string(secret);
}

std::optional<int64_t> PostgresStore::FeedOwner(std::string_view secret) {
  if (secret.empty()) return std::nullopt;
  Lease lease(*this);
  Result found = Exec(lease.get(), "SELECT user_id FROM sharing WHERE feed_secret = $1", {secret});
  if (!found.Rows()) return std::nullopt;
  return found.Int(0, 0);
}

std::vector<Image> PostgresStore::PublicEntries(const EntryQuery& query, bool withPicture) {
  return SelectEntries(query, withPicture ? " AND public AND file != ''" : " AND public");
}

std::optional<Image> PostgresStore::FindPublicEntry(int64_t userId, int64_t entryId) {
  Lease lease(*this);
  Result found = Exec(lease.get(), (std::string("SELECT ") + kImageColumns + " FROM images WHERE user_id = $1 AND id = $2 AND public").c_str(),
                      {userId, entryId});
  if (!found.Rows()) return std::nullopt;
  return ReadImage(found, 0);
}

std::vector<int32_t> PostgresStore::PublicFolders(int64_t userId) {
  Lease lease(*this);
  Result found = Exec(lease.get(),
                      "SELECT 0 WHERE EXISTS(SELECT 1 FROM images WHERE user_id = $1 AND public AND folder = 0) "
                      "UNION ALL (SELECT number FROM folders f WHERE user_id = $1 "
                      "AND EXISTS(SELECT 1 FROM images WHERE user_id = $1 AND public AND folder = f.number) ORDER BY id)",
                      {userId});
  std::vector<int32_t> numbers;
  for (int r = 0; r < found.Rows(); ++r) numbers.push_back(static_cast<int32_t>(found.Int(r, 0)));
  return numbers;
}

std::optional<Image> PostgresStore::FindEntry(int64_t userId, int64_t entryId) {
  Lease lease(*this);
  Result found = Exec(lease.get(), (std::string("SELECT ") + kImageColumns + " FROM images WHERE user_id = $1 AND id = $2").c_str(),
                      {userId, entryId});
  if (!found.Rows()) return std::nullopt;
  return ReadImage(found, 0);
}

bool PostgresStore::UpdateEntry(int64_t userId, int64_t entryId, const NewImage& fields) {
  Lease lease(*this);
  PGconn* conn = lease.get();
  Transaction transaction(conn);
  // Another user's entry is not there at all, whatever folder the change names.
  Result mine = Exec(conn, "SELECT url FROM images WHERE user_id = $1 AND id = $2 FOR UPDATE", {userId, entryId});
  if (!mine.Rows()) return false;
  if (fields.folder != 0 && !Exec(conn, "SELECT 1 FROM folders WHERE user_id = $1 AND number = $2", {userId, fields.folder}).Rows()) {
    throw StoreError("no such folder");
  }
  Exec(conn, "UPDATE images SET title = $1, note = $2, folder = $3, public = $4, search = $5::tsvector WHERE id = $6",
       {fields.title, fields.note, fields.folder, fields.isPublic, SearchVector(fields.title, mine.Text(0, 0), fields.note), entryId});
  transaction.Commit();
  return true;
}

bool PostgresStore::DeleteEntry(int64_t userId, int64_t entryId) {
  Lease lease(*this);
  return Exec(lease.get(), "DELETE FROM images WHERE user_id = $1 AND id = $2", {userId, entryId}).Affected() > 0;
}

namespace {

// A query of the embedded store's database, row by row, as text.
class SqliteRows {
 public:
  SqliteRows(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
      throw StoreError(std::string("embedded database: ") + sqlite3_errmsg(db));
    }
  }
  ~SqliteRows() { sqlite3_finalize(stmt_); }
  bool Next() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) throw StoreError(std::string("embedded database: ") + sqlite3_errmsg(db_));
    return false;
  }
  std::string Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))) : std::string{};
  }
  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  sqlite3_stmt* Raw() const { return stmt_; }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

PostgresStore::Copied PostgresStore::CopyFrom(SqliteStore& from) {
  sqlite3* source = from.Handle();
  // One moment of the embedded store, even while its service still writes.
  if (sqlite3_exec(source, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw StoreError(std::string("embedded database: ") + sqlite3_errmsg(source));
  }
  struct EndRead {
    sqlite3* db;
    ~EndRead() { sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr); }
  } endRead{source};

  Lease lease(*this);
  PGconn* conn = lease.get();
  Transaction transaction(conn);
  Exec(conn, "LOCK TABLE users, retired_ids, devices, sharing, sessions, folders, images, pictures IN EXCLUSIVE MODE");
  Result count = Exec(conn, "SELECT (SELECT count(*) FROM users) + (SELECT count(*) FROM folders) + (SELECT count(*) FROM images)");
  if (count.Int(0, 0) != 0) {
    throw StoreError("the database is not empty: moving over takes a database without users, folders or entries");
  }
  Copied copied;
  for (SqliteRows rows(source, "SELECT id, identity, signed_in, name, password_hash FROM users ORDER BY id"); rows.Next();) {
    Exec(conn, "INSERT INTO users(id, identity, signed_in, name, password_hash) VALUES($1, $2, $3, $4, $5)",
         {rows.Int(0), rows.Text(1), rows.Int(2) != 0, rows.Text(3), rows.Text(4)});
    ++copied.users;
  }
  for (SqliteRows rows(source, "SELECT toolbar_id, user_id FROM retired_ids"); rows.Next();) {
    Exec(conn, "INSERT INTO retired_ids(toolbar_id, user_id) VALUES($1, $2)", {rows.Text(0), rows.Int(1)});
  }
  for (SqliteRows rows(source, "SELECT id, user_id, toolbar_id, name, created, last_used FROM devices ORDER BY id"); rows.Next();) {
    Exec(conn, "INSERT INTO devices(id, user_id, toolbar_id, name, created, last_used) VALUES($1, $2, $3, $4, $5, $6)",
         {rows.Int(0), rows.Int(1), rows.Text(2), rows.Text(3), rows.Int(4), rows.Int(5)});
    ++copied.devices;
  }
  for (SqliteRows rows(source, "SELECT user_id, shared, album, feed_secret FROM sharing"); rows.Next();) {
    Param album(rows.Text(2)), secret(rows.Text(3));
    album.null = sqlite3_column_type(rows.Raw(), 2) == SQLITE_NULL;
    secret.null = sqlite3_column_type(rows.Raw(), 3) == SQLITE_NULL;
    Exec(conn, "INSERT INTO sharing(user_id, shared, album, feed_secret) VALUES($1, $2, $3, $4)",
         {rows.Int(0), rows.Int(1) != 0, album, secret});
  }
  for (SqliteRows rows(source, "SELECT token_hash, user_id, csrf, created, seen FROM sessions"); rows.Next();) {
    Exec(conn, "INSERT INTO sessions(token_hash, user_id, csrf, created, seen) VALUES($1, $2, $3, $4, $5)",
         {rows.Text(0), rows.Int(1), rows.Text(2), rows.Int(3), rows.Int(4)});
    ++copied.sessions;
  }
  for (SqliteRows rows(source, "SELECT id, user_id, number, name FROM folders ORDER BY id"); rows.Next();) {
    Exec(conn, "INSERT INTO folders(id, user_id, number, name) VALUES($1, $2, $3, $4)",
         {rows.Int(0), rows.Int(1), rows.Int(2), rows.Text(3)});
    ++copied.folders;
  }
  for (SqliteRows rows(source, "SELECT id, user_id, name, file, folder, public, url, title, note, size, uploaded FROM images ORDER BY id");
       rows.Next();) {
    Image image;
    image.id = rows.Int(0);
    image.file = rows.Text(3);
    std::optional<std::string> png = from.Picture(image);
    if (!image.file.empty() && !png) {
      ++copied.missingPictures;
      image.file.clear();  // listed without a picture, not as one that fails to download
    }
    std::string url = rows.Text(6), title = rows.Text(7), note = rows.Text(8);
    Exec(conn, R"sql(INSERT INTO images(id, user_id, name, file, folder, public, url, title, note, size, uploaded, search)
                     VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12::tsvector))sql",
         {image.id, rows.Int(1), rows.Text(2), image.file, rows.Int(4), rows.Int(5) != 0, url, title, note, rows.Int(9),
          rows.Text(10), SearchVector(title, url, note)});
    if (!image.file.empty()) {
      Exec(conn, "INSERT INTO pictures(image_id, png) VALUES($1, $2)", {image.id, Param::Bytes(*png)});
      ++copied.pictures;
    }
    ++copied.entries;
  }
  // New rows go on after the copied numbers.
  for (const char* table : {"users", "devices", "folders", "images"}) {
    Exec(conn, (std::string("SELECT setval(pg_get_serial_sequence('") + table + "', 'id'), COALESCE(MAX(id), 0) + 1, false) FROM " +
                table).c_str());
  }
  transaction.Commit();
  return copied;
}

}  // namespace torvo::service
