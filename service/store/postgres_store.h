#pragma once
// The store in a PostgreSQL database, pictures included (bytea), so that any number of service
// processes on any machines share users, entries, pictures, sessions, image names and the
// sign-in slow-down. Talks to the database through libpq, a few connections per process.
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "service/store/accounts.h"
#include "service/store/store.h"

struct pg_conn;

namespace torvo::service {

class SqliteStore;

class PostgresStore : public Store, public SignInCounts {
 public:
  // connection: a postgresql:// URL or a libpq connection string. Creates the tables when the
  // database has none; refuses a database whose encoding or character type is not UTF-8.
  explicit PostgresStore(std::string connection, Clock clock = nullptr, int connections = 4);
  ~PostgresStore() override;
  PostgresStore(const PostgresStore&) = delete;
  PostgresStore& operator=(const PostgresStore&) = delete;

  static constexpr int kSchemaVersion = 1;

  User AddAccount(std::string_view name, std::string_view toolbarId) override;
  std::optional<User> FindUser(std::string_view identity) override;
  std::optional<User> FindUserByName(std::string_view name) override;
  std::optional<User> FindUserById(int64_t userId) override;
  std::vector<User> Users() override;
  void SetSignedIn(std::string_view identity, bool signedIn) override;
  void SetPasswordHash(int64_t userId, std::string_view hash) override;
  std::string PasswordHash(int64_t userId) override;
  void ReplaceToolbarId(int64_t userId, std::string_view toolbarId) override;

  Device AddDevice(int64_t userId, std::string_view name, std::string_view toolbarId) override;
  std::optional<User> FindDeviceUser(std::string_view toolbarId) override;
  std::vector<Device> Devices(int64_t userId) override;
  bool RevokeDevice(int64_t userId, int64_t deviceId) override;
  bool RevokeDevice(std::string_view toolbarId) override;

  void AddSession(std::string_view tokenHash, int64_t userId, std::string_view csrf) override;
  std::optional<Session> FindSession(std::string_view tokenHash) override;
  void RemoveSession(std::string_view tokenHash) override;

  using Store::AddFolder;
  Folder AddFolder(std::string_view identity, std::string_view name, std::optional<int32_t> number) override;
  std::vector<Folder> Folders(int64_t userId) override;
  bool HasFolder(int64_t userId, int32_t number) override;
  void RenameFolder(int64_t userId, int32_t number, std::string_view name) override;
  void RemoveFolder(int64_t userId, int32_t number) override;

  Image AddEntry(int64_t userId, const NewImage& fields, std::time_t added) override;
  size_t AddEntries(int64_t userId, const std::vector<NewEntry>& entries) override;
  bool HasEntry(int64_t userId, const NewImage& fields) override;

  std::vector<Image> Images(int64_t userId) override;
  std::optional<Image> FindImage(int64_t userId, std::string_view name) override;
  std::optional<std::string> Picture(const Image& image) override;

  std::vector<Image> Entries(const EntryQuery& query) override;
  std::optional<Image> FindEntry(int64_t userId, int64_t entryId) override;
  bool UpdateEntry(int64_t userId, int64_t entryId, const NewImage& fields) override;
  bool DeleteEntry(int64_t userId, int64_t entryId) override;

  Sharing SharingOf(int64_t userId) override;
  Sharing SetSharing(int64_t userId, bool shared, std::string_view album) override;
  std::optional<int64_t> SharedAlbum(std::string_view album) override;
  std::string ReplaceFeedSecret(int64_t userId, std::string_view secret) override;
  std::optional<int64_t> FeedOwner(std::string_view secret) override;
  std::vector<Image> PublicEntries(const EntryQuery& query, bool withPicture = false) override;
  std::optional<Image> FindPublicEntry(int64_t userId, int64_t entryId) override;
  std::vector<int32_t> PublicFolders(int64_t userId) override;

  SignInCounts* SharedSignInCounts() override { return this; }
  Count Get(const std::string& key) override;
  void AddFailure(const std::string& key, std::time_t now) override;
  void Clear(const std::string& key) override;

  std::optional<std::string> Unhealthy() override;
  std::string Describe() const override { return description_; }

  // True when the database holds no user, entry or folder (what moving over needs).
  bool IsEmpty();

  // Copies users, their ToolbarIDs old and new, sessions, folders, entries and pictures from the
  // embedded store into this database, which must be empty, in one transaction, keeping every
  // row's number (so sessions and links stay good). A picture whose file is missing leaves its
  // entry without one, counted.
  struct Copied {
    int64_t users = 0, devices = 0, folders = 0, entries = 0, pictures = 0, missingPictures = 0, sessions = 0;
  };
  Copied CopyFrom(SqliteStore& from);

  // One connection taken from the pool for as long as the lease lives.
  class Lease {
   public:
    explicit Lease(PostgresStore& store);
    ~Lease();
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    pg_conn* get() const { return conn_; }

   private:
    PostgresStore& store_;
    pg_conn* conn_;
  };

 protected:
  Image Insert(int64_t userId, std::optional<std::string_view> name, const NewImage& fields, std::string_view png) override;

 private:
  pg_conn* Connect();
  // Checks the database and makes the tables; the constructor ends its connections when this throws.
  void Open();
  // Refuses a database whose text is not UTF-8; each step takes its own connection and gives it back.
  void CheckDatabase();
  void CreateSchema();
  // A page of the user's entries, newest first, in query's folder and matching its search; only
  // adds conditions of its own (" AND ...").
  std::vector<Image> SelectEntries(const EntryQuery& query, const char* only);
  // A new 14-digit name of the time now, a second later while taken; committed at once.
  std::string ClaimName(pg_conn* conn);

  std::string connection_;
  std::string description_;
  Clock clock_;
  int most_;
  int open_ = 0;
  std::vector<pg_conn*> idle_;
  std::mutex poolMutex_;
  std::condition_variable poolFree_;
};

// The text of a tsvector of the terms of title, address and note (positions kept, the fields
// set apart) and of a tsquery for a user's words; nothing when the words hold nothing to search.
std::string SearchVector(std::string_view title, std::string_view url, std::string_view note);
std::optional<std::string> SearchTsQuery(std::string_view words);

}  // namespace torvo::service
