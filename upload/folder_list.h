#pragma once
// The folder list exchange: "is this identity signed in, which host takes its uploads, which
// folders does it have". Reply grammar:
//   reply  = "0" | target { "|" entry }
//   entry  = name "^" id { "^" ignored }
// with target non-empty and without "|", name without "|" and "^" (empty allowed), and id an
// optional sign and decimal digits in the signed 32-bit range, spaces around it allowed.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torvo {
class HttpGetter;
}

namespace torvo::upload {

struct FolderEntry {
  std::u16string name;
  int32_t id = 0;
  bool operator==(const FolderEntry&) const = default;
};

struct FolderReply {
  enum class Kind { kFolders, kSignedOut, kFailed };
  Kind kind = Kind::kFailed;
  std::u16string target;               // the upload host (kFolders)
  std::vector<FolderEntry> folders;    // in the order of the reply, without "기본" (kFolders)
  std::u16string message;              // what to tell the user (kSignedOut, kFailed)
};

inline constexpr char16_t kSignedOutMessage[] = u"로그아웃 상태입니다.";
inline constexpr char16_t kDefaultFolderName[] = u"기본";

// "http://" + host + "/imgList.php?state=geturi&tid=" + toolbarId, as a valid request target
// (code page 949 bytes, spaces, control and non-ASCII bytes escaped).
std::string FolderListAddress(std::string_view serviceHost, std::u16string_view toolbarId);

// The same exchange at the user's own service: serviceUrl is its address ("https://host/torvo/"),
// the exchange's name follows it.
std::string FolderListUrl(std::string_view serviceUrl, std::u16string_view toolbarId);

// Reads a reply body (text already decoded from code page 949).
FolderReply ParseFolderReply(std::u16string_view reply);

// The whole exchange: one GET, then the reply read as code page 949 text. A failed request (no
// connection, time-out, HTTP error status) is kFailed with a message saying so.
FolderReply QueryFolders(HttpGetter& http, std::string_view serviceHost, std::u16string_view toolbarId);
// The same at the user's own service; the messages of a refused certificate and of a server
// speaking the other protocol name the host.
FolderReply QueryFoldersAt(HttpGetter& http, std::string_view serviceUrl, std::string_view host,
                           std::u16string_view toolbarId);

// What to tell the user about a transport failure of the service at host, in the programs'
// language; empty for a failure without a message of its own.
std::u16string TlsFailureMessage(int failureKind, std::string_view host);

}  // namespace torvo::upload
