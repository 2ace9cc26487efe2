#include "service/exchanges/multipart.h"

#include <algorithm>
#include <cctype>

namespace torvo::service {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string Unquote(std::string_view value) {
  value = Trim(value);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

// Reads name=value parameters separated by ";"; a leading token without "=" (the disposition
// type, or "multipart/form-data") is skipped. A quoted value may hold ";".
std::optional<std::string> FindParameter(std::string_view header, std::string_view wanted) {
  size_t pos = 0;
  while (pos < header.size()) {
    size_t end = pos;
    bool quoted = false;
    while (end < header.size() && (quoted || header[end] != ';')) {
      if (header[end] == '"') quoted = !quoted;
      ++end;
    }
    std::string_view item = Trim(header.substr(pos, end - pos));
    size_t equals = item.find('=');
    if (equals != std::string_view::npos && EqualsNoCase(Trim(item.substr(0, equals)), wanted)) {
      return Unquote(item.substr(equals + 1));
    }
    pos = end + 1;
  }
  return std::nullopt;
}

// A boundary line ends with "--" (the close), optional white space and CRLF, or the body's end.
bool IsDelimiterEnd(std::string_view rest) {
  if (rest.empty() || rest.substr(0, 2) == "--") return true;
  size_t i = 0;
  while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t')) ++i;
  return rest.substr(i, 2) == "\r\n" || i == rest.size();
}

}  // namespace

std::optional<std::string> MultipartBoundary(std::string_view contentType) {
  std::string_view type = Trim(contentType.substr(0, contentType.find(';')));
  if (!EqualsNoCase(type, "multipart/form-data")) return std::nullopt;
  auto boundary = FindParameter(contentType, "boundary");
  if (!boundary || boundary->empty()) return std::nullopt;
  return boundary;
}

ParsedForm ParseMultipart(std::string_view body, std::string_view boundary) {
  ParsedForm form;
  const std::string delimiter = "--" + std::string(boundary);
  const std::string innerDelimiter = "\r\n" + delimiter;

  // The first boundary: at the very start, or after a preamble ending in a line break.
  size_t pos = 0;
  if (body.substr(0, delimiter.size()) != delimiter || !IsDelimiterEnd(body.substr(delimiter.size()))) {
    size_t found = body.find(innerDelimiter);
    while (found != std::string_view::npos && !IsDelimiterEnd(body.substr(found + innerDelimiter.size()))) {
      found = body.find(innerDelimiter, found + 1);
    }
    if (found == std::string_view::npos) {
      form.error = "the body does not start with the boundary --" + std::string(boundary);
      return form;
    }
    pos = found + 2;
  }
  pos += delimiter.size();

  for (;;) {
    std::string_view rest = body.substr(pos);
    if (rest.substr(0, 2) == "--") break;  // the closing boundary
    size_t lineEnd = rest.find("\r\n");
    if (lineEnd == std::string_view::npos) break;  // the last boundary, without "--" and line break
    pos += lineEnd + 2;
    if (pos == body.size()) break;  // the last boundary, without "--"

    FormPart part;
    bool hasDisposition = false;
    for (;;) {
      size_t end = body.find("\r\n", pos);
      if (end == std::string_view::npos) {
        form.error = "a part's head is cut off";
        return form;
      }
      std::string_view line = body.substr(pos, end - pos);
      pos = end + 2;
      if (line.empty()) break;
      size_t colon = line.find(':');
      if (colon == std::string_view::npos) continue;
      std::string_view name = Trim(line.substr(0, colon));
      std::string_view value = Trim(line.substr(colon + 1));
      if (EqualsNoCase(name, "Content-Disposition")) {
        hasDisposition = true;
        part.name = FindParameter(value, "name").value_or("");
        part.filename = FindParameter(value, "filename").value_or("");
      } else if (EqualsNoCase(name, "Content-Type")) {
        part.contentType = std::string(value);
      }
    }
    if (!hasDisposition) {
      form.error = "a part has no Content-Disposition";
      return form;
    }

    size_t dataEnd = body.find(innerDelimiter, pos);
    while (dataEnd != std::string_view::npos && !IsDelimiterEnd(body.substr(dataEnd + innerDelimiter.size()))) {
      dataEnd = body.find(innerDelimiter, dataEnd + 1);
    }
    if (dataEnd == std::string_view::npos) {
      form.error = "the part \"" + part.name + "\" has no boundary after its data (the body is cut off)";
      return form;
    }
    part.data = body.substr(pos, dataEnd - pos);
    form.parts.push_back(std::move(part));
    pos = dataEnd + innerDelimiter.size();
  }
  return form;
}

}  // namespace torvo::service
