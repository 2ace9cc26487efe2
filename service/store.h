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
  std::string identity;  // UTF-8
  bool signedIn = true;
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
};

class Store {
 public:
  using Clock = std::function<std::time_t()>;

  // Opens (creating when missing) the database and the image folder under dataDir.
  explicit Store(const std::filesystem::path& dataDir, Clock clock = nullptr);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Identities travel raw in the clients' query strings, so they must be non-empty, have a code
  // page 949 form, and hold no "%", "&", "#" or control character.
  User AddUser(std::string_view identity);
  std::optional<User> FindUser(std::string_view identity);
  std::vector<User> Users();
  void SetSignedIn(std::string_view identity, bool signedIn);

  // A folder name may be empty but holds no "|" or "^" (they separate the folder list); the
  // number is any 32-bit number but 0 (the default folder), unique for the user; without one the
  // next number after the user's highest is taken.
  Folder AddFolder(std::string_view identity, std::string_view name, std::optional<int32_t> number);
  std::vector<Folder> Folders(int64_t userId);
  bool HasFolder(int64_t userId, int32_t number);

  // Stores the PNG and its fields under a new name of 14 digits: the local time of now as
  // YYYYMMDDhhmmss, a second later while that name is taken by any image.
  Image AddImage(int64_t userId, const NewImage& fields, std::string_view png);
  // Stores an image under a name chosen by the caller (tests offer the clients odd names): any
  // text with a code page 949 form and no "|" or control character, unique for the user.
  Image AddNamedImage(int64_t userId, std::string_view name, const NewImage& fields, std::string_view png);

  std::vector<Image> Images(int64_t userId);  // in upload order
  std::optional<Image> FindImage(int64_t userId, std::string_view name);
  std::filesystem::path ImagePath(const Image& image) const;
  const std::filesystem::path& DataDir() const { return dataDir_; }

 private:
  Image Insert(int64_t userId, std::optional<std::string_view> name, const NewImage& fields, std::string_view png);
  std::string NewName();

  std::filesystem::path dataDir_;
  std::filesystem::path imageDir_;
  Clock clock_;
  sqlite3* db_ = nullptr;
  std::mutex mutex_;
};

}  // namespace torvo::service
