#pragma once
// The embedded store: a SQLite database DIR/torvo.sqlite and the PNG files under DIR/images/.
// Usable from the command line while the service runs (the database waits for the other writer).
#include <filesystem>
#include <memory>
#include <mutex>

#include "service/store/store.h"

struct sqlite3;

namespace torvo::service {

class StatementCache;

class SqliteStore : public Store {
 public:
  // Opens (creating when missing) the database and the image folder under dataDir, and removes
  // what an interrupted upload left behind.
  explicit SqliteStore(const std::filesystem::path& dataDir, Clock clock = nullptr);
  ~SqliteStore() override;
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  // The version of the database's layout this build writes; older ones are brought up to it when
  // opened, a newer one is refused.
  static constexpr int kSchemaVersion = 3;

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
  std::optional<Image> FindSignedInUsersImage(std::string_view identity, std::string_view name) override;
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

  std::optional<std::string> Unhealthy() override;
  std::string Describe() const override;

  std::filesystem::path ImagePath(const Image& image) const;
  const std::filesystem::path& DataDir() const { return dataDir_; }
  sqlite3* Handle() { return db_; }
  // Files under images/ that no row names (what a crash between the picture and its row left),
  // removed; returns how many.
  int SweepStrayPictures();

 protected:
  Image Insert(int64_t userId, std::optional<std::string_view> name, const NewImage& fields, std::string_view png) override;

 private:
  std::string NewName();
  void Migrate();
  void IndexEntry(int64_t entryId, const NewImage& fields);
  // A page of the user's entries, newest first, in query's folder and matching its search; only
  // adds conditions of its own (" AND ...").
  std::vector<Image> SelectEntries(const EntryQuery& query, const char* only);

  std::filesystem::path dataDir_;
  std::filesystem::path imageDir_;
  Clock clock_;
  sqlite3* db_ = nullptr;
  std::unique_ptr<StatementCache> statements_;
  std::mutex mutex_;
};

}  // namespace torvo::service
