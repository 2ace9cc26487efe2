// What both stores share: the checks of names and identities, and choosing the store to open.
#include <algorithm>

#include "service/wire/cp949.h"
#include "service/store/search_text.h"
#include "service/store/store.h"
#include "service/store/postgres_store.h"
#include "service/store/sqlite_store.h"

namespace torvo::service {

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

void CheckIdentity(std::string_view identity) {
  if (identity.empty()) throw StoreError("an identity must not be empty");
  if (HasControlCharacter(identity) || identity.find_first_of("%&#") != std::string_view::npos) {
    throw StoreError("an identity must not hold \"%\", \"&\", \"#\" or control characters: the clients send it unescaped");
  }
  if (!Utf8ToCp949(identity)) throw StoreError("the identity has characters that code page 949 lacks");
}

void CheckUserName(std::string_view name) {
  if (name.empty() || name.size() > 200) throw StoreError("a user name must be 1 to 200 bytes long");
  if (HasControlCharacter(name) || !IsValidUtf8(name)) throw StoreError("a user name must be UTF-8 text without control characters");
}

void CheckFolderName(std::string_view name) {
  if (name.find_first_of("|^") != std::string_view::npos || HasControlCharacter(name)) {
    throw StoreError("a folder name must not hold \"|\", \"^\" or control characters");
  }
  if (!Utf8ToCp949(name)) throw StoreError("the folder name has characters that code page 949 lacks");
}

// An album's name travels in an address: no separators of one, no spaces, no controls.
void CheckAlbumName(std::string_view album) {
  if (album.empty() || album.size() > 100 || album == "." || album == ".." || !IsValidUtf8(album) ||
      std::any_of(album.begin(), album.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F || std::string_view("/\\?#%").find(c) != std::string_view::npos;
      })) {
    throw StoreError("an album name is 1 to 100 bytes without spaces, \"/\", \"\\\", \"?\", \"#\" or \"%\"");
  }
}

Folder Store::AddFolder(int64_t userId, std::string_view name) {
  auto user = FindUserById(userId);
  if (!user) throw StoreError("no such user");
  return AddFolder(user->identity, name, std::nullopt);
}

Image Store::AddNamedImage(int64_t userId, std::string_view name, const NewImage& fields, std::string_view png) {
  if (name.find('|') != std::string_view::npos || HasControlCharacter(name)) {
    throw StoreError("an image name must not hold \"|\" or control characters");
  }
  if (!Utf8ToCp949(name)) throw StoreError("the image name has characters that code page 949 lacks");
  return Insert(userId, name, fields, png);
}

std::optional<Image> Store::FindSignedInUsersImage(std::string_view identity, std::string_view name) {
  std::optional<User> user = FindUser(identity);
  if (!user || !user->signedIn) return std::nullopt;
  return FindImage(user->id, name);
}

std::string Store::DeviceName(std::string_view name) {
  if (name.empty()) return "device";
  if (name.size() > kLongestDeviceName) {
    throw StoreError("a device name must be at most " + std::to_string(kLongestDeviceName) + " bytes long");
  }
  if (HasControlCharacter(name) || !IsValidUtf8(name)) throw StoreError("a device name must be UTF-8 text without control characters");
  return std::string(name);
}

std::unique_ptr<Store> OpenStore(const StoreLocation& location, Store::Clock clock) {
  if (!location.databaseUrl.empty()) return std::make_unique<PostgresStore>(location.databaseUrl, std::move(clock));
  return std::make_unique<SqliteStore>(location.dataDir, std::move(clock));
}

}  // namespace torvo::service
