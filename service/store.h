#pragma once
// Users, their folders and their images: a SQLite database DIR/torvo.sqlite and the PNG files
// under DIR/images/. Safe to use from many threads, and from the command line while the service
// runs (the database waits for the other writer).
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace torvo::service {

// A refused or failed store operation, with a message for the person who asked.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct User {
  int64_t id = 0;
  std::string identity;  // the ToolbarID the exchanges carry as tid (UTF-8)
  bool signedIn = true;
  std::string name;      // the name the user signs in to the web page with
  bool hasPassword = false;
};

// One device's own ToolbarID, got by signing in from that device; revoking it signs that device
// out alone.
struct Device {
  int64_t id = 0;
  int64_t userId = 0;
  std::string toolbarId;
  std::string name;      // as the device named itself (UTF-8)
  std::time_t created = 0;
  std::time_t lastUsed = 0;  // 0: never; kept to the minute
};

struct Session {
  int64_t userId = 0;
  std::string csrf;  // the token every changing form of this session carries
};

// What the list of entries shows: one user's, newest first, maybe of one folder or matching a search.
struct EntryQuery {
  int64_t userId = 0;
  std::optional<int32_t> folder;
  std::string search;  // the words as the user typed them; empty: every entry
  int offset = 0;
  int limit = 30;
};

// Whether a user shows their non-private entries to everyone, at which album name, and the secret
// that names their private feed of every entry.
struct Sharing {
  bool shared = false;     // off until the user turns it on
  std::string album;       // the album's name in its address; empty: never turned on
  std::string feedSecret;  // empty until the settings page first shows the private feed
};

struct Folder {
  int32_t number = 0;
  std::string name;  // UTF-8
};

struct NewImage {
  int32_t folder = 0;  // 0: the default folder
  bool isPublic = true;
  std::string url, title, note;  // UTF-8
};

struct Image {
  int64_t id = 0;
  std::string name;  // without ".png"; 14 digits when the service chose it
  std::string file;  // relative to DIR/images
  int32_t folder = 0;
  bool isPublic = true;
  std::string url, title, note;
  int64_t size = 0;
  std::string uploaded;  // local time, YYYY-MM-DD hh:mm:ss
  bool HasPicture() const { return !file.empty(); }
};

class Store {
 public:
  using Clock = std::function<std::time_t()>;

  // Opens (creating when missing) the database and the image folder under dataDir.
  explicit Store(const std::filesystem::path& dataDir, Clock clock = nullptr);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // The version of the database's layout this build writes; older ones are brought up to it when
  // opened, a newer one is refused.
  static constexpr int kSchemaVersion = 3;

  // Identities travel raw in the clients' query strings, so they must be non-empty, have a code
  // page 949 form, and hold no "%", "&", "#" or control character.
  // A user whose name and ToolbarID are both the identity, as every user was before the web page.
  User AddUser(std::string_view identity);
  // A user of the web page: a name to sign in with (no control characters, at most 200 bytes) and
  // a ToolbarID for the exchanges.
  User AddAccount(std::string_view name, std::string_view toolbarId);
  // By ToolbarID; a ToolbarID the user has replaced finds the user as signed out.
  std::optional<User> FindUser(std::string_view identity);
  std::optional<User> FindUserByName(std::string_view name);
  std::optional<User> FindUserById(int64_t userId);
  std::vector<User> Users();
  void SetSignedIn(std::string_view identity, bool signedIn);
  // An Argon2id hash as libsodium writes it; empty: the user cannot sign in to the page.
  void SetPasswordHash(int64_t userId, std::string_view hash);
  std::string PasswordHash(int64_t userId);
  // Gives the user a new ToolbarID; the old one then reads as signed out.
  void ReplaceToolbarId(int64_t userId, std::string_view toolbarId);

  // Devices: a user may hold any number of ToolbarIDs besides the one above, one per device.
  // A device name is UTF-8 without control characters, at most 100 bytes; empty becomes "device".
  static constexpr size_t kLongestDeviceName = 100;
  // Throws StoreError with the reason when the name cannot be a device's.
  static std::string DeviceName(std::string_view name);
  Device AddDevice(int64_t userId, std::string_view name, std::string_view toolbarId);
  // The user of a live device's ToolbarID, as FindUser gives it (identity: that ToolbarID); notes
  // the use, writing at most once a minute per device. Revoked ones are FindUser's (signed out).
  std::optional<User> FindDeviceUser(std::string_view toolbarId);
  std::vector<Device> Devices(int64_t userId);
  // The device's ToolbarID then reads as signed out. False when the user has no such device.
  bool RevokeDevice(int64_t userId, int64_t deviceId);
  // By the device's ToolbarID; false when it is no live device's (a user's first ToolbarID too).
  bool RevokeDevice(std::string_view toolbarId);

  // Sessions of the web page, by a hash of their cookie; they end after 30 idle days.
  void AddSession(std::string_view tokenHash, int64_t userId, std::string_view csrf);
  std::optional<Session> FindSession(std::string_view tokenHash);
  void RemoveSession(std::string_view tokenHash);

  // A folder name may be empty but holds no "|" or "^" (they separate the folder list); the
  // number is any 32-bit number but 0 (the default folder), unique for the user; without one the
  // next number after the user's highest is taken.
  Folder AddFolder(std::string_view identity, std::string_view name, std::optional<int32_t> number);
  Folder AddFolder(int64_t userId, std::string_view name);
  std::vector<Folder> Folders(int64_t userId);
  bool HasFolder(int64_t userId, int32_t number);
  void RenameFolder(int64_t userId, int32_t number, std::string_view name);
  // The folder's entries move to the default folder.
  void RemoveFolder(int64_t userId, int32_t number);

  // Stores the PNG and its fields under a new name of 14 digits: the local time of now as
  // YYYYMMDDhhmmss, a second later while that name is taken by any image.
  Image AddImage(int64_t userId, const NewImage& fields, std::string_view png);
  // Stores an image under a name chosen by the caller (tests offer the clients odd names): any
  // text with a code page 949 form and no "|" or control character, unique for the user.
  Image AddNamedImage(int64_t userId, std::string_view name, const NewImage& fields, std::string_view png);

  // An entry without a picture (a bookmark brought in from elsewhere) added at that time. Its name
  // is no upload's: the image list does not name it.
  Image AddEntry(int64_t userId, const NewImage& fields, std::time_t added);
  // True when the user has an entry of this address, title, note and folder already.
  bool HasEntry(int64_t userId, const NewImage& fields);

  // Those with a picture, in upload order, and one of them by name: what the exchanges serve.
  std::vector<Image> Images(int64_t userId);
  std::optional<Image> FindImage(int64_t userId, std::string_view name);

  // The web page's list: newest first; a search matches title, address and note.
  std::vector<Image> Entries(const EntryQuery& query);
  std::optional<Image> FindEntry(int64_t userId, int64_t entryId);
  // Both false when the user has no such entry.
  bool UpdateEntry(int64_t userId, int64_t entryId, const NewImage& fields);
  bool DeleteEntry(int64_t userId, int64_t entryId);
  std::filesystem::path ImagePath(const Image& image) const;

  // What everyone may see. A user's sharing is off until turned on; an album name is unique
  // among all users and is the user's name unless they choose another.
  Sharing SharingOf(int64_t userId);
  // Turns sharing on or off; album empty keeps the current name (the user's name the first time).
  // Throws StoreError when the name is another user's album.
  Sharing SetSharing(int64_t userId, bool shared, std::string_view album);
  // The user whose album has this name, only while they share it: a name that is no album and
  // an album not shared are the same nothing.
  std::optional<int64_t> SharedAlbum(std::string_view album);
  // The private feed's secret (empty until one is given); a new one replaces it, and the old one
  // then finds no one.
  std::string FeedSecret(int64_t userId);
  std::string ReplaceFeedSecret(int64_t userId, std::string_view secret);
  std::optional<int64_t> FeedOwner(std::string_view secret);
  // The public entries only (never a private one): the query's folder and search apply, newest
  // first; withPicture leaves out entries without a picture (the picture wall).
  std::vector<Image> PublicEntries(const EntryQuery& query, bool withPicture = false);
  std::optional<Image> FindPublicEntry(int64_t userId, int64_t entryId);
  // The folders that hold at least one public entry (0, the default folder, among them).
  std::vector<int32_t> PublicFolders(int64_t userId);
  const std::filesystem::path& DataDir() const { return dataDir_; }

 private:
  Image Insert(int64_t userId, std::optional<std::string_view> name, const NewImage& fields, std::string_view png);
  std::string NewName();
  void Migrate();
  void IndexEntry(int64_t entryId, const NewImage& fields);
  void CheckFolderName(std::string_view name);

  std::filesystem::path dataDir_;
  std::filesystem::path imageDir_;
  Clock clock_;
  sqlite3* db_ = nullptr;
  std::mutex mutex_;
};

}  // namespace torvo::service
