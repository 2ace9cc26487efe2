#include "platform/service_connection.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "platform/paths.h"

namespace torvo {
namespace {

std::string_view Trim(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool IsAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::optional<ServiceAddress> Refuse(std::string* problem, std::string why) {
  if (problem) *problem = std::move(why);
  return std::nullopt;
}

}  // namespace

std::string ServiceAddress::Authority() const {
  std::string out;
  if (host.find(':') != std::string::npos) {
    out += '[';
    out += host;
    out += ']';
  } else {
    out = host;
  }
  if (!DefaultPort()) {
    out += ':';
    out += std::to_string(port);
  }
  return out;
}

std::string ServiceAddress::Url(std::string_view name) const {
  return scheme + "://" + Authority() + path + std::string(name);
}

std::optional<ServiceAddress> ParseServiceAddress(std::string_view text, std::string* problem) {
  text = Trim(text);
  if (text.empty()) return Refuse(problem, "the address is empty");
  ServiceAddress address;
  const size_t colon = text.find("://");
  const std::string scheme = colon == std::string_view::npos ? std::string() : Lower(text.substr(0, colon));
  if (scheme != "http" && scheme != "https") {
    return Refuse(problem, "the address must begin with http:// or https:// (for example https://example.org/)");
  }
  address.scheme = scheme;
  text.remove_prefix(colon + 3);
  const size_t authorityEnd = text.find_first_of("/?#");
  std::string_view authority = text.substr(0, authorityEnd);
  std::string_view rest = authorityEnd == std::string_view::npos ? std::string_view() : text.substr(authorityEnd);
  if (authority.find('@') != std::string_view::npos) {
    return Refuse(problem, "the address must not carry a user name or password");
  }
  std::string_view portText;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return Refuse(problem, "the address's IPv6 host lacks its closing \"]\"");
    const std::string_view inside = authority.substr(1, close - 1);
    if (inside.empty() || !std::all_of(inside.begin(), inside.end(),
                                       [](char c) { return IsHex(c) || c == ':' || c == '.'; })) {
      return Refuse(problem, "the address's IPv6 host is not an IPv6 address");
    }
    address.host = Lower(inside);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty() && after.front() != ':') return Refuse(problem, "the address has text after its IPv6 host");
    if (!after.empty()) portText = after.substr(1);
    if (!after.empty() && portText.empty()) return Refuse(problem, "the address's port is empty");
  } else {
    const size_t portColon = authority.find(':');
    const std::string_view host = authority.substr(0, portColon);
    if (portColon != std::string_view::npos) {
      portText = authority.substr(portColon + 1);
      if (portText.empty()) return Refuse(problem, "the address's port is empty");
    }
    if (host.empty()) return Refuse(problem, "the address names no host");
    for (char c : host) {
      if (static_cast<unsigned char>(c) >= 0x80) {
        return Refuse(problem, "write the address's host in ASCII (an international name in its xn-- form)");
      }
      if (!IsAlnum(c) && c != '-' && c != '.' && c != '_') {
        return Refuse(problem, "the address's host may hold only letters, digits, \"-\" and \".\"");
      }
    }
    address.host = Lower(host);
  }
  if (!portText.empty()) {
    if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return Refuse(problem, "the address's port must be a number from 1 to 65535");
    }
    const unsigned long port = std::stoul(std::string(portText));
    if (port < 1 || port > 65535) return Refuse(problem, "the address's port must be a number from 1 to 65535");
    address.port = static_cast<uint16_t>(port);
  } else {
    address.port = address.Tls() ? 443 : 80;
  }
  if (rest.find_first_of("?#") != std::string_view::npos) {
    return Refuse(problem, "the address must not carry a query (\"?\") or fragment (\"#\"): give the service's folder");
  }
  for (char c : rest) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F) return Refuse(problem, "the address's path must not hold spaces or control characters");
    if (u >= 0x80) return Refuse(problem, "write the address's path in ASCII (percent-escaped where needed)");
    if (c == '\\') return Refuse(problem, "the address's path must use \"/\", not \"\\\"");
  }
  address.path = rest.empty() ? "/" : std::string(rest);
  if (address.path.back() != '/') address.path += '/';
  if (address.path.find("//") != std::string::npos) return Refuse(problem, "the address's path holds an empty folder (\"//\")");
  return address;
}

ConnectionFile ParseConnection(std::string_view text, const std::filesystem::path& file) {
  ConnectionFile result;
  result.state = ConnectionFile::State::kBroken;
  const std::string name = Utf8Path(file);
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a BOM from an editor
  bool haveService = false;
  int lineNumber = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    if (line.empty() || line.front() == '#') continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      result.problem = name + ", line " + std::to_string(lineNumber) + ": not \"key = value\"";
      return result;
    }
    const std::string key = Lower(Trim(line.substr(0, equals)));
    const std::string_view value = Trim(line.substr(equals + 1));
    if (key == "service") {
      std::string why;
      auto address = ParseServiceAddress(value, &why);
      if (!address) {
        result.problem = name + ", line " + std::to_string(lineNumber) + ": " + why;
        return result;
      }
      result.connection.service = *address;
      haveService = true;
    } else if (key == "identity") {
      result.connection.identity = std::string(value);
    } else if (key == "certificate") {
      result.connection.certificate = std::string(value);
    }
  }
  if (!haveService) {
    result.problem = name + " names no service (a line \"service = https://...\")";
    return result;
  }
  const std::string& id = result.connection.identity;
  // A ToolbarID may hold spaces (the programs' command line is one); only its ends are trimmed.
  if (id.empty() || std::any_of(id.begin(), id.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
      })) {
    result.problem = name + " holds no usable identity (a line \"identity = ...\")";
    return result;
  }
  result.state = ConnectionFile::State::kRead;
  return result;
}

std::string FormatConnection(const ServiceConnection& connection) {
  std::string text = "# Torvo's connection to its service (torvo-connect writes it).\n";
  text += "service = " + connection.service.Url() + "\n";
  text += "identity = " + connection.identity + "\n";
  if (!connection.certificate.empty()) text += "certificate = " + connection.certificate + "\n";
  return text;
}

ConnectionFile ReadConnection(const std::filesystem::path& file) {
  ConnectionFile result;
  std::error_code ec;
  if (file.empty() || !std::filesystem::exists(file, ec)) return result;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    result.state = ConnectionFile::State::kBroken;
    result.problem = Utf8Path(file) + " cannot be read";
    return result;
  }
  std::string text;
  // A connection is a few lines: anything far larger is not one.
  text.resize(64 * 1024);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return ParseConnection(text, file);
}

std::optional<std::string> WriteConnection(const std::filesystem::path& file, const ServiceConnection& connection) {
  if (file.empty()) return std::string("the system names no folder for the connection file");
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  if (ec) return Utf8Path(file.parent_path()) + ": " + ec.message();
  std::filesystem::path fresh = file;
  fresh += ".new-" + std::to_string(CurrentProcessId());
  std::filesystem::remove(fresh, ec);
  if (auto error = CreatePrivateFile(fresh, FormatConnection(connection))) {
    std::filesystem::remove(fresh, ec);
    return Utf8Path(file) + ": " + *error;
  }
  if (auto error = RenameReplacing(fresh, file)) {
    std::filesystem::remove(fresh, ec);
    return Utf8Path(file) + ": " + *error;
  }
  return std::nullopt;
}

std::optional<std::string> ReadCertificatePem(const ServiceConnection& connection, std::string* problem) {
  if (connection.certificate.empty()) return std::string();
  const std::filesystem::path file = PathFromUtf8(connection.certificate);
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    *problem = "the certificate file " + connection.certificate + " cannot be read";
    return std::nullopt;
  }
  std::string pem;
  pem.resize(1024 * 1024);
  in.read(pem.data(), static_cast<std::streamsize>(pem.size()));
  pem.resize(static_cast<size_t>(in.gcount()));
  if (pem.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    *problem = "the certificate file " + connection.certificate + " holds no PEM certificate";
    return std::nullopt;
  }
  return pem;
}

std::string MaskedIdentity(std::string_view identity) {
  // Counted in characters, so a Korean letter is never cut in half: the start of each character
  // (a byte that is no UTF-8 continuation byte).
  std::vector<size_t> starts;
  for (size_t i = 0; i < identity.size(); ++i) {
    if ((static_cast<unsigned char>(identity[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  if (starts.size() <= 8) return std::string(starts.size(), '*');
  return std::string(identity.substr(0, starts[4])) + "..." + std::string(identity.substr(starts[starts.size() - 4]));
}

}  // namespace torvo
