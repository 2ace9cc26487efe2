#include "upload/upload_request.h"

#include "platform/codepage.h"
#include "platform/http.h"
#include "upload/codecs.h"

namespace torvo::upload {

namespace {

constexpr char kCrLf[] = "\r\n";

std::string Escaped(std::u16string_view text) { return ToUtf8(*Coding(text, 0)); }

// The body's head: the empty MAX_FILE_SIZE part, then the head of the file part.
std::string BodyHead() {
  std::string b;
  b += std::string("--") + kUploadBoundary + kCrLf;
  b += std::string("Content-Disposition:name=\"MAX_FILE_SIZE\"") + kCrLf;
  b += kCrLf;
  b += kCrLf;
  b += std::string("--") + kUploadBoundary + kCrLf;
  b += std::string("Content-Disposition:attachment;name=\"uploadfile\";filename=\"a.png\"") + kCrLf;
  b += std::string("Content-Type:image/pjpeg") + kCrLf;
  b += std::string("Content-Transfer-Encoding: binary") + kCrLf;
  b += kCrLf;
  return b;
}

std::string HostAndPort(const UploadFields& fields) {
  std::string host = EscapeRequestTarget(ToCp949(fields.strTargetUrl));
  if (fields.port != 0) {
    host += ':';
    host += std::to_string(fields.port);
  }
  return host;
}

std::string BodyTail() { return std::string(kCrLf) + "--" + kUploadBoundary + kCrLf; }

}  // namespace

std::u16string WithCrLf(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 8);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n' || c == u'\u2028' || c == u'\u2029') {
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      out += u"\r\n";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string UploadTarget(const UploadFields& fields) {
  std::string target = fields.scheme + "://" + HostAndPort(fields) + fields.path + "imgUpload.php";
  target += "?tid=" + EscapeRequestTarget(ToCp949(fields.ToolbarID));
  target += "&url=" + Escaped(fields.url);
  target += "&title=" + Escaped(fields.title);
  target += "&note=" + Escaped(WithCrLf(fields.note));
  target += std::string("&public=") + (fields.isPrivate ? "S" : "P");
  target += "&folder=" + std::to_string(fields.folder);
  return target;
}

UploadRequest MakeUploadRequest(const UploadFields& fields, uint64_t fileLength) {
  static const std::string bodyHead = BodyHead();
  static const std::string bodyTail = BodyTail();
  UploadRequest r;
  r.contentLength = bodyHead.size() + fileLength + bodyTail.size();
  r.head = "POST " + UploadTarget(fields) + " HTTP/1.1" + kCrLf;
  r.head += std::string("Content-Type:multipart/form-data;boundary=") + kUploadBoundary + kCrLf;
  r.head += "Host:" + HostAndPort(fields) + kCrLf;
  r.head += "Content-Length:" + std::to_string(r.contentLength) + kCrLf;
  r.head += kCrLf;
  r.head += bodyHead;
  r.tail = bodyTail;
  return r;
}

}  // namespace torvo::upload
