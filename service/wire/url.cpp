#include "service/wire/url.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace torvo::service {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int high = HexValue(text[i + 1]);
      int low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string PercentEncodeSegment(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char c : bytes) {
    if (IsUnreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

TargetParts SplitTarget(std::string_view target) {
  size_t question = target.find('?');
  std::string_view path = target.substr(0, question);
  std::string_view query = question == std::string_view::npos ? std::string_view{} : target.substr(question + 1);
  size_t scheme = path.find("://");
  if (scheme != std::string_view::npos && path.find('/') > scheme) {
    size_t slash = path.find('/', scheme + 3);
    path = slash == std::string_view::npos ? std::string_view{"/"} : path.substr(slash);
  }
  return {path, query};
}

QueryFields ParseQuery(std::string_view query, PlusMeans plus) {
  auto decode = [plus](std::string_view part) {
    if (plus == PlusMeans::kPlus) return PercentDecode(part);
    std::string spaced(part);
    std::replace(spaced.begin(), spaced.end(), '+', ' ');
    return PercentDecode(spaced);
  };
  QueryFields fields;
  while (!query.empty()) {
    size_t amp = query.find('&');
    std::string_view field = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
    if (field.empty()) continue;
    size_t equals = field.find('=');
    if (equals == std::string_view::npos) {
      fields.emplace_back(decode(field), std::string{});
    } else {
      fields.emplace_back(decode(field.substr(0, equals)), decode(field.substr(equals + 1)));
    }
  }
  return fields;
}

std::optional<std::string> FindField(const QueryFields& fields, std::string_view name) {
  for (const auto& [fieldName, value] : fields) {
    if (fieldName == name) return value;
  }
  return std::nullopt;
}

std::optional<int32_t> ParseInt32(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return std::nullopt;
  }
  if (text.empty() || text.front() == '+') return std::nullopt;
  int32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<PublicAddress> ParsePublicAddress(std::string_view url) {
  if (std::any_of(url.begin(), url.end(), [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; })) {
    return std::nullopt;
  }
  size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos) return std::nullopt;
  std::string scheme(url.substr(0, schemeEnd));
  std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
  if (scheme != "http" && scheme != "https") return std::nullopt;
  std::string_view rest = url.substr(schemeEnd + 3);
  if (rest.find_first_of("?#") != std::string_view::npos) return std::nullopt;
  std::string_view authority = rest.substr(0, rest.find('/'));
  if (authority.find('@') != std::string_view::npos) return std::nullopt;
  std::string_view host = authority;
  std::optional<std::string_view> port;
  if (authority.starts_with('[')) {
    size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    std::string_view after = authority.substr(close + 1);
    if (!after.empty() && !after.starts_with(':')) return std::nullopt;
    if (!after.empty()) port = after.substr(1);
  } else if (size_t colon = authority.find(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  if (host.empty() || host == "[]") return std::nullopt;
  if (port) {
    bool digits = !port->empty() && std::all_of(port->begin(), port->end(), [](char c) { return c >= '0' && c <= '9'; });
    auto number = digits ? ParseInt32(*port) : std::nullopt;
    if (!number || *number < 1 || *number > 65535) return std::nullopt;
  }
  PublicAddress address;
  address.url = std::string(url);
  if (!address.url.ends_with('/')) address.url += '/';
  address.host = std::string(host);
  return address;
}

}  // namespace torvo::service
