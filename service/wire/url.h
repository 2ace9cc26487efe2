#pragma once
// Request targets as the clients write them: origin form ("/imgList.php?tid=x") or absolute form
// ("http://host/imgUpload.php?tid=x"), with percent escapes of code page 949 bytes.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace torvo::service {

// "%" and two hexadecimal digits (either case) become that byte. Everything else, "+" and a "%"
// that is not followed by two hexadecimal digits included, stays as it is: the clients escape
// every byte of the fields they escape, so a plain "+" is a plus.
std::string PercentDecode(std::string_view text);

// Escapes every byte except the unreserved A-Z a-z 0-9 - . _ ~ as "%" and two uppercase
// hexadecimal digits, so the result is safe as one segment of a path.
std::string PercentEncodeSegment(std::string_view bytes);

struct TargetParts {
  std::string_view path;   // still escaped; "/" when the absolute form names no path
  std::string_view query;  // still escaped, without the "?"
};

// Splits a request target into path and query; an absolute form loses its scheme and host.
TargetParts SplitTarget(std::string_view target);

using QueryFields = std::vector<std::pair<std::string, std::string>>;

// What a "+" in a query stands for: itself, as the programs escape every byte they mean, or a
// space, as browsers encode their forms.
enum class PlusMeans { kPlus, kSpace };

// The "&"-separated fields of a query, names and values decoded, in order. A field without "="
// has an empty value; empty fields are skipped.
QueryFields ParseQuery(std::string_view query, PlusMeans plus = PlusMeans::kPlus);

// The value of the first field with this name.
std::optional<std::string> FindField(const QueryFields& fields, std::string_view name);

// A whole decimal number in the signed 32-bit range: an optional sign and digits, nothing else.
std::optional<int32_t> ParseInt32(std::string_view text);

// The address users enter to reach the service: "http://" or "https://", a host (a name, an IPv4
// address or a bracketed IPv6 one), an optional port and path. Nothing when it is not one.
struct PublicAddress {
  std::string url;   // as given, ending in "/"
  std::string host;  // without the port
};
std::optional<PublicAddress> ParsePublicAddress(std::string_view url);

}  // namespace torvo::service
