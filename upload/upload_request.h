#pragma once
// The upload's request, byte for byte: one POST whose request line carries the absolute address
// with the page's fields in its query, and a multipart body holding the thumbnail as "a.png".
// The service reads exactly this form (headers without a space after the colon, no closing "--"
// after the last boundary), so it is built here and nowhere else.
#include <cstdint>
#include <string>
#include <string_view>

namespace torvo::upload {

inline constexpr char kUploadBoundary[] = "7d4b2315b01da";

// What the user saw and chose when pressing save.
struct UploadFields {
  std::u16string strTargetUrl;  // the upload host, as the folder list named it
  std::u16string ToolbarID;
  std::u16string url;
  std::u16string title;
  std::u16string note;  // line breaks go out as CR LF, whatever the text box keeps
  bool isPrivate = false;
  int32_t folder = 0;
  // The user's own service: its scheme, the port named in the address (0: none, as the build's
  // fixed service writes it) and its folder, before "imgUpload.php".
  std::string scheme = "http";
  uint16_t port = 0;
  std::string path = "/";
};

struct UploadRequest {
  std::string head;  // request head and the body's head, sent first
  std::string tail;  // the body's last boundary, sent after the file's bytes
  uint64_t contentLength = 0;  // the body: file length + 229
};

// scheme "://" host [":" port] path "imgUpload.php?tid=..&url=..&title=..&note=..&public=P|S&folder=N", as a
// valid request target: url, title and note percent-escaped byte by byte (Coding); the identity
// and the host with only spaces, control and non-ASCII bytes escaped.
std::string UploadTarget(const UploadFields& fields);

// The request around a file of fileLength bytes: head + file + tail is what goes on the wire.
UploadRequest MakeUploadRequest(const UploadFields& fields, uint64_t fileLength);

// Every line break ("\r\n", "\n", "\r", U+2028, U+2029) as CR LF.
std::u16string WithCrLf(std::u16string_view text);

}  // namespace torvo::upload
