#include "upload/upload_request.h"

#include <gtest/gtest.h>

#include <string>

namespace torvo::upload {
namespace {

// A stand-in for img.png: the PNG signature, then every byte value in turn (CR, LF, NUL and
// the boundary's letters among them), 3,000 bytes in all.
std::string KnownPng() {
  std::string png = "\x89PNG\r\n\x1a\n";
  for (int i = 0; png.size() < 3000; ++i) png.push_back(static_cast<char>(i * 7 + 3));
  return png;
}

const char kBodyHead[] =
    "--7d4b2315b01da\r\n"
    "Content-Disposition:name=\"MAX_FILE_SIZE\"\r\n"
    "\r\n"
    "\r\n"
    "--7d4b2315b01da\r\n"
    "Content-Disposition:attachment;name=\"uploadfile\";filename=\"a.png\"\r\n"
    "Content-Type:image/pjpeg\r\n"
    "Content-Transfer-Encoding: binary\r\n"
    "\r\n";
const char kBodyTail[] = "\r\n--7d4b2315b01da\r\n";

TEST(UploadRequest, BytesOnTheWireForAKnownThumbnail) {
  const std::string png = KnownPng();
  ASSERT_EQ(png.size(), 3000u);
  UploadFields f;
  f.strTargetUrl = u"upload.torvo.example";
  f.ToolbarID = u"alice";
  f.url = u"http://a.b/c";
  f.title = u"가 b";
  f.note = u"";
  f.isPrivate = true;
  f.folder = 12;
  const UploadRequest r = MakeUploadRequest(f, png.size());
  EXPECT_EQ(r.contentLength, 3229u);
  const std::string expected =
      std::string("POST http://upload.torvo.example/imgUpload.php?tid=alice"
                  "&url=%68%74%74%70%3A%2F%2F%61%2E%62%2F%63"
                  "&title=%B0%A1%20%62"
                  "&note=&public=S&folder=12 HTTP/1.1\r\n"
                  "Content-Type:multipart/form-data;boundary=7d4b2315b01da\r\n"
                  "Host:upload.torvo.example\r\n"
                  "Content-Length:3229\r\n"
                  "\r\n") +
      kBodyHead + png + kBodyTail;
  EXPECT_EQ(r.head + png + r.tail, expected);
  EXPECT_EQ(r.tail, kBodyTail);
}

TEST(UploadRequest, QueryOfTheFields) {
  struct Case {
    const char* what;
    UploadFields fields;
    const char* query;  // after "?"
  };
  const Case cases[] = {
      {"public, default folder, a title with a space",
       {u"h", u"bob", u"", u"a b", u"n", false, 0},
       "tid=bob&url=&title=%61%20%62&note=%6E&public=P&folder=0"},
      {"note lines as CR LF whatever the box keeps",
       {u"h", u"bob", u"", u"", u"x\ny\r\nz\rw", false, 3},
       "tid=bob&url=&title=&note=%78%0D%0A%79%0D%0A%7A%0D%0A%77&public=P&folder=3"},
      {"identity: space, control and non-ASCII escaped, nothing else",
       {u"h", u"al ice%가\t&", u"", u"", u"", true, -7},
       "tid=al%20ice%%B0%A1%09&&url=&title=&note=&public=S&folder=-7"},
      {"a character code page 949 lacks goes out as ?",
       {u"h", u"bob", u"", u"\u00E9", u"", false, 2147483647},
       "tid=bob&url=&title=%3F&note=&public=P&folder=2147483647"},
      {"a character beyond 16 bits is one character, and one ?",
       {u"h", u"bob\U0001F600", u"", u"\U0001F600!", u"a\U0001F600", false, 1},
       "tid=bob?&url=&title=%3F%21&note=%61%3F&public=P&folder=1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UploadTarget(c.fields), std::string("http://h/imgUpload.php?") + c.query) << c.what;
  }
}

TEST(UploadRequest, EmptyFileAndHostAsNamed) {
  UploadFields f;
  f.strTargetUrl = u"127.0.0.1";
  f.ToolbarID = u"x";
  const UploadRequest r = MakeUploadRequest(f, 0);
  EXPECT_EQ(r.contentLength, 229u);
  EXPECT_EQ(r.head.substr(0, r.head.find("\r\n\r\n") + 4),
            "POST http://127.0.0.1/imgUpload.php?tid=x&url=&title=&note=&public=P&folder=0 HTTP/1.1\r\n"
            "Content-Type:multipart/form-data;boundary=7d4b2315b01da\r\n"
            "Host:127.0.0.1\r\n"
            "Content-Length:229\r\n"
            "\r\n");
  EXPECT_EQ(r.head.size() - r.head.find("\r\n\r\n") - 4 + r.tail.size(), 229u);
}

TEST(UploadRequest, TheUsersOwnServiceNamesSchemePortAndFolder) {
  struct Case {
    const char* scheme;
    uint16_t port;
    const char* path;
    const char* line;
    const char* host;
  };
  const Case cases[] = {
      {"https", 0, "/", "POST https://example.org/imgUpload.php?", "Host:example.org\r\n"},
      {"https", 8443, "/torvo/", "POST https://example.org:8443/torvo/imgUpload.php?", "Host:example.org:8443\r\n"},
      {"http", 8765, "/", "POST http://example.org:8765/imgUpload.php?", "Host:example.org:8765\r\n"},
      {"http", 0, "/a/b/", "POST http://example.org/a/b/imgUpload.php?", "Host:example.org\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    UploadFields f;
    f.strTargetUrl = u"example.org";
    f.ToolbarID = u"x";
    f.scheme = c.scheme;
    f.port = c.port;
    f.path = c.path;
    const UploadRequest r = MakeUploadRequest(f, 10);
    EXPECT_EQ(r.head.rfind(c.line, 0), 0u) << r.head;
    EXPECT_NE(r.head.find(std::string("\r\n") + c.host), std::string::npos) << r.head;
    // Everything after the request line and Host is the build's service's bytes.
    UploadFields plain;
    plain.strTargetUrl = f.strTargetUrl;
    plain.ToolbarID = f.ToolbarID;
    const UploadRequest today = MakeUploadRequest(plain, 10);
    EXPECT_EQ(r.head.substr(r.head.find("Content-Length")), today.head.substr(today.head.find("Content-Length")));
    EXPECT_EQ(r.tail, today.tail);
  }
}

}  // namespace
}  // namespace torvo::upload
