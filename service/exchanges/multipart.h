#pragma once
// The multipart body of an upload. The upload tool writes its own dialect: header names without a
// space after the colon, a Content-Disposition without "form-data", and no closing "--" after the
// last boundary. This reader takes that dialect and the standard form alike.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvo::service {

struct FormPart {
  std::string name;         // the name= parameter of Content-Disposition
  std::string filename;     // the filename= parameter, empty when absent
  std::string contentType;  // as declared, empty when absent
  std::string_view data;    // points into the body that was parsed
};

struct ParsedForm {
  std::vector<FormPart> parts;
  std::string error;  // empty when the body was read; otherwise what is wrong with it
};

// The boundary of a Content-Type value such as "multipart/form-data;boundary=7d4b2315b01da"
// (spaces and quotes allowed); nothing when the type is not multipart/form-data.
std::optional<std::string> MultipartBoundary(std::string_view contentType);

// Splits a body into its parts. The body starts with "--" and the boundary (a preamble before a
// line break is skipped); each part's data runs to the next CRLF "--" boundary. The last boundary
// may or may not be followed by "--". A part whose data never ends is an error: the body was cut.
ParsedForm ParseMultipart(std::string_view body, std::string_view boundary);

}  // namespace torvo::service
