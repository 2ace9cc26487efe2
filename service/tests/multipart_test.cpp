#include <gtest/gtest.h>

#include "service/exchanges/multipart.h"

namespace torvo::service {
namespace {

const std::string kBoundary = "7d4b2315b01da";

// The body the upload tool writes, with file data that looks like line breaks and boundaries.
std::string ToolBody(const std::string& data) {
  return "--7d4b2315b01da\r\n"
         "Content-Disposition:name=\"MAX_FILE_SIZE\"\r\n"
         "\r\n"
         "\r\n"
         "--7d4b2315b01da\r\n"
         "Content-Disposition:attachment;name=\"uploadfile\";filename=\"a.png\"\r\n"
         "Content-Type:image/pjpeg\r\n"
         "Content-Transfer-Encoding: binary\r\n"
         "\r\n" +
         data + "\r\n--7d4b2315b01da\r\n";
}

TEST(Multipart, ReadsTheUploadToolsBodyWithoutClosingDashes) {
  const std::string data = std::string("\x89PNG\r\n\x1A\n\0\r\n--7d4b2315b01dax\r\n--", 29);
  const std::string body = ToolBody(data);
  ParsedForm form = ParseMultipart(body, kBoundary);
  ASSERT_EQ(form.error, "");
  ASSERT_EQ(form.parts.size(), 2u);
  EXPECT_EQ(form.parts[0].name, "MAX_FILE_SIZE");
  EXPECT_EQ(form.parts[0].filename, "");
  EXPECT_EQ(form.parts[0].data, "");
  EXPECT_EQ(form.parts[1].name, "uploadfile");
  EXPECT_EQ(form.parts[1].filename, "a.png");
  EXPECT_EQ(form.parts[1].contentType, "image/pjpeg");
  EXPECT_EQ(form.parts[1].data, data);
}

TEST(Multipart, EndingsOfTheLastBoundary) {
  const std::string start = "--b\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nvalue\r\n--b";
  for (const std::string ending : {"--\r\n", "--", "\r\n", "", "  \r\n", "--\r\nepilogue"}) {
    const std::string body = start + ending;  // the parts point into it
    ParsedForm form = ParseMultipart(body, "b");
    ASSERT_EQ(form.error, "") << ending;
    ASSERT_EQ(form.parts.size(), 1u) << ending;
    EXPECT_EQ(form.parts[0].name, "f");
    EXPECT_EQ(form.parts[0].data, "value");
  }
}

TEST(Multipart, StandardFormWithPreambleAndQuotedSemicolon) {
  const std::string body =
      "preamble\r\n--b\r\n"
      "content-disposition: form-data; name=\"x;y\"; filename=\"p q.png\"\r\n"
      "content-type: image/png\r\n\r\n"
      "DATA\r\n--b\r\n"
      "Content-Disposition: form-data; name=plain\r\n\r\n"
      "\r\n\r\n--b--\r\n";
  ParsedForm form = ParseMultipart(body, "b");
  ASSERT_EQ(form.error, "");
  ASSERT_EQ(form.parts.size(), 2u);
  EXPECT_EQ(form.parts[0].name, "x;y");
  EXPECT_EQ(form.parts[0].filename, "p q.png");
  EXPECT_EQ(form.parts[0].contentType, "image/png");
  EXPECT_EQ(form.parts[0].data, "DATA");
  EXPECT_EQ(form.parts[1].name, "plain");
  EXPECT_EQ(form.parts[1].data, "\r\n");
}

TEST(Multipart, RefusesCutAndForeignBodies) {
  const std::string whole = ToolBody("\x89PNG data");
  struct Case {
    std::string body;
    std::string errorPart;
  };
  const Case cases[] = {
      {whole.substr(0, whole.size() - 19), "cut off"},  // the last boundary is missing
      {whole.substr(0, 60), "cut off"},                 // inside a part's head
      {"hello", "does not start with the boundary"},
      {"--7d4b2315b01dz\r\n\r\n", "does not start with the boundary"},
      {"--7d4b2315b01da\r\nX:y\r\n\r\ndata\r\n--7d4b2315b01da", "no Content-Disposition"},
  };
  for (const auto& c : cases) {
    ParsedForm form = ParseMultipart(c.body, kBoundary);
    EXPECT_NE(form.error.find(c.errorPart), std::string::npos) << c.body << " -> " << form.error;
  }
}

TEST(Multipart, BoundaryOfContentType) {
  EXPECT_EQ(MultipartBoundary("multipart/form-data;boundary=7d4b2315b01da"), "7d4b2315b01da");
  EXPECT_EQ(MultipartBoundary("Multipart/Form-Data; charset=x; boundary=\"a b\""), "a b");
  EXPECT_EQ(MultipartBoundary("multipart/form-data"), std::nullopt);
  EXPECT_EQ(MultipartBoundary("multipart/form-data; boundary="), std::nullopt);
  EXPECT_EQ(MultipartBoundary("text/plain; boundary=x"), std::nullopt);
}

}  // namespace
}  // namespace torvo::service
