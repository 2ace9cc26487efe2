#pragma once
// Users, their folders and their images, and the interface of the two stores that keep them.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace torvo::service {

class SignInCounts;

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

// An entry without a picture and when it was added, for adding many at once.
struct NewEntry {
  NewImage fields;
  std::time_t added = 0;
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

// Where the service keeps its users, entries and pictures: an embedded SQLite database beside a
// folder of PNG files (SqliteStore, the default), or a PostgreSQL database holding everything,
// pictures included, so that any number of service processes share it (PostgresStore). Both
// behave the same; every method is safe from many threads.
class Store {
 public:
  using Clock = std::function<std::time_t()>;
  virtual ~Store() = default;

  // Identities travel raw in the clients' query strings, so they must be non-empty, have a code
  // page 949 form, and hold no "%", "&", "#" or control character.
  // A user whose name and ToolbarID are both the identity, as every user was before the web page.
  User AddUser(std::string_view identity) { return AddAccount(identity, identity); }
  // A user of the web page: a name to sign in with (no control characters, at most 200 bytes) and
  // a ToolbarID for the exchanges.
  virtual User AddAccount(std::string_view name, std::string_view toolbarId) = 0;
  // By ToolbarID; a ToolbarID the user has replaced finds the user as signed out.
  virtual std::optional<User> FindUser(std::string_view identity) = 0;
  virtual std::optional<User> FindUserByName(std::string_view name) = 0;
  virtual std::optional<User> FindUserById(int64_t userId) = 0;
  virtual std::vector<User> Users() = 0;
  virtual void SetSignedIn(std::string_view identity, bool signedIn) = 0;
  // An Argon2id hash as libsodium writes it; empty: the user cannot sign in to the page.
  virtual void SetPasswordHash(int64_t userId, std::string_view hash) = 0;
  virtual std::string PasswordHash(int64_t userId) = 0;
  // Gives the user a new ToolbarID; the old one then reads as signed out.
  virtual void ReplaceToolbarId(int64_t userId, std::string_view toolbarId) = 0;

  // Devices: a user may hold any number of ToolbarIDs besides the one above, one per device.
  // A device name is UTF-8 without control characters, at most 100 bytes; empty becomes "device".
  static constexpr size_t kLongestDeviceName = 100;
  // Throws StoreError with the reason when the name cannot be a device's.
  static std::string DeviceName(std::string_view name);
  virtual Device AddDevice(int64_t userId, std::string_view name, std::string_view toolbarId) = 0;
  // The user of a live device's ToolbarID, as FindUser gives it (identity: that ToolbarID); notes
  // the use, writing at most once a minute per device. Revoked ones are FindUser's (signed out).
  virtual std::optional<User> FindDeviceUser(std::string_view toolbarId) = 0;
  virtual std::vector<Device> Devices(int64_t userId) = 0;
  // The device's ToolbarID then reads as signed out. False when the user has no such device.
  virtual bool RevokeDevice(int64_t userId, int64_t deviceId) = 0;
  // By the device's ToolbarID; false when it is no live device's (a user's first ToolbarID too).
  virtual bool RevokeDevice(std::string_view toolbarId) = 0;

  // Sessions of the web page, by a hash of their cookie; they end after 30 idle days.
  virtual void AddSession(std::string_view tokenHash, int64_t userId, std::string_view csrf) = 0;
  virtual std::optional<Session> FindSession(std::string_view tokenHash) = 0;
  virtual void RemoveSession(std::string_view tokenHash) = 0;

  // A folder name may be empty but holds no "|" or "^" (they separate the folder list); the
  // number is any 32-bit number but 0 (the default folder), unique for the user; without one the
  // next number after the user's highest is taken.
  virtual Folder AddFolder(std::string_view identity, std::string_view name, std::optional<int32_t> number) = 0;
  Folder AddFolder(int64_t userId, std::string_view name);
  virtual std::vector<Folder> Folders(int64_t userId) = 0;
  virtual bool HasFolder(int64_t userId, int32_t number) = 0;
  virtual void RenameFolder(int64_t userId, int32_t number, std::string_view name) = 0;
  // The folder's entries move to the default folder.
  virtual void RemoveFolder(int64_t userId, int32_t number) = 0;

  // Stores the PNG and its fields under a new name of 14 digits: the local time of now as
  // YYYYMMDDhhmmss, a second later while that name is taken by any image. Once it returns, the
  // picture and its entry are stored whole; a crash before leaves neither.
  Image AddImage(int64_t userId, const NewImage& fields, std::string_view png) {
    return Insert(userId, std::nullopt, fields, png);
  }
  // Stores an image under a name chosen by the caller (tests offer the clients odd names): any
  // text with a code page 949 form and no "|" or control character, unique for the user.
  Image AddNamedImage(int64_t userId, std::string_view name, const NewImage& fields, std::string_view png);

  // An entry without a picture (a bookmark brought in from elsewhere) added at that time. Its name
  // is no upload's: the image list does not name it.
  virtual Image AddEntry(int64_t userId, const NewImage& fields, std::time_t added) = 0;
  // Many such entries in one transaction: all of them or, on an error (a folder the user does not
  // have), none. Far faster than one at a time for a large album. Returns how many were added.
  virtual size_t AddEntries(int64_t userId, const std::vector<NewEntry>& entries) = 0;
  // True when the user has an entry of this address, title, note and folder already.
  virtual bool HasEntry(int64_t userId, const NewImage& fields) = 0;

  // Those with a picture, in upload order, and one of them by name: what the exchanges serve.
  virtual std::vector<Image> Images(int64_t userId) = 0;
  virtual std::optional<Image> FindImage(int64_t userId, std::string_view name) = 0;
  // The image of that name of the signed-in user of that identity (not a device's, nor a retired
  // one): a download's usual answer, in one look where the store allows it. Nothing tells none.
  virtual std::optional<Image> FindSignedInUsersImage(std::string_view identity, std::string_view name);
  // The picture's bytes; nothing when it is gone.
  virtual std::optional<std::string> Picture(const Image& image) = 0;

  // The web page's list: newest first; a search matches title, address and note.
  virtual std::vector<Image> Entries(const EntryQuery& query) = 0;
  virtual std::optional<Image> FindEntry(int64_t userId, int64_t entryId) = 0;
  // Both false when the user has no such entry.
  virtual bool UpdateEntry(int64_t userId, int64_t entryId, const NewImage& fields) = 0;
  virtual bool DeleteEntry(int64_t userId, int64_t entryId) = 0;

  // What everyone may see. A user's sharing is off until turned on; an album name is unique
  // among all users and is the user's name unless they choose another.
  virtual Sharing SharingOf(int64_t userId) = 0;
  // Turns sharing on or off; album empty keeps the current name (the user's name the first time).
  // Throws StoreError when the name is another user's album.
  virtual Sharing SetSharing(int64_t userId, bool shared, std::string_view album) = 0;
  // The user whose album has this name, only while they share it: a name that is no album and
  // an album not shared are the same nothing.
  virtual std::optional<int64_t> SharedAlbum(std::string_view album) = 0;
  // The private feed's secret (empty until one is given); a new one replaces it, and the old one
  // then finds no one.
  std::string FeedSecret(int64_t userId) { return SharingOf(userId).feedSecret; }
  virtual std::string ReplaceFeedSecret(int64_t userId, std::string_view secret) = 0;
  virtual std::optional<int64_t> FeedOwner(std::string_view secret) = 0;
  // The public entries only (never a private one): the query's folder and search apply, newest
  // first; withPicture leaves out entries without a picture (the picture wall).
  virtual std::vector<Image> PublicEntries(const EntryQuery& query, bool withPicture = false) = 0;
  virtual std::optional<Image> FindPublicEntry(int64_t userId, int64_t entryId) = 0;
  // The folders that hold at least one public entry (0, the default folder, among them).
  virtual std::vector<int32_t> PublicFolders(int64_t userId) = 0;

  // Failed sign-ins counted where every service process sees them; nullptr: this process keeps
  // its own counts (one process owns the embedded store).
  virtual SignInCounts* SharedSignInCounts() { return nullptr; }
  // Whether the database answers now, for the health check; the reason when it does not.
  virtual std::optional<std::string> Unhealthy() = 0;
  // "sqlite DIR" or "postgresql host/db", for the log.
  virtual std::string Describe() const = 0;

 protected:
  virtual Image Insert(int64_t userId, std::optional<std::string_view> name, const NewImage& fields,
                       std::string_view png) = 0;
};

// Where to open the store: a PostgreSQL connection (a postgresql:// URL or a libpq connection
// string) when databaseUrl is not empty, else the embedded store in dataDir.
struct StoreLocation {
  std::filesystem::path dataDir;
  std::string databaseUrl;
};
std::unique_ptr<Store> OpenStore(const StoreLocation& location, Store::Clock clock = nullptr);

// Checks shared by both stores; StoreError tells what is wrong.
void CheckIdentity(std::string_view identity);
void CheckUserName(std::string_view name);
void CheckFolderName(std::string_view name);
void CheckAlbumName(std::string_view album);
bool HasControlCharacter(std::string_view text);
std::string FormatLocalTime(std::time_t time, const char* format);

}  // namespace torvo::service
