#pragma once
// The user's one connection to their own service: the service's address, the ToolbarID this
// device signs in with and, for a server whose certificate no system trusts (a home server's own),
// the PEM file to trust beside the system's. One file per user, readable by that user alone,
// UTF-8 lines "key = value". Without the file the programs keep the build's fixed service.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace torvo {

struct ServiceAddress {
  std::string scheme;  // "http" or "https"
  std::string host;    // lower case; an IPv6 address without its brackets
  uint16_t port = 0;   // as written, else 80 or 443
  std::string path;    // begins and ends with "/"

  bool Tls() const { return scheme == "https"; }
  bool DefaultPort() const { return port == (Tls() ? 443 : 80); }
  // host[:port], the port only when it is not the scheme's own, IPv6 in brackets: what a Host
  // header and an address name.
  std::string Authority() const;
  // scheme "://" authority path name: the address of one of the service's exchanges.
  std::string Url(std::string_view name = {}) const;
  bool operator==(const ServiceAddress&) const = default;
};

// Reads an address as a user writes it ("https://example.org/torvo", "http://192.168.0.10:8765/").
// Surrounding spaces go; a path without its closing "/" gets one. Anything else that is not a
// plain http(s) address of a service folder (a user name, a query, a fragment, a bad port, a path
// with spaces or non-ASCII letters) is refused with *problem saying why, in plain English.
std::optional<ServiceAddress> ParseServiceAddress(std::string_view text, std::string* problem);

struct ServiceConnection {
  ServiceAddress service;
  std::string identity;     // a ToolbarID
  std::string certificate;  // UTF-8 path of a PEM file; empty: the system's trust alone
  bool operator==(const ServiceConnection&) const = default;
};

// ${XDG_CONFIG_HOME:-$HOME/.config}/torvo/connection; %APPDATA%\Torvo\connection on Windows.
// Empty when the system names no such folder.
std::filesystem::path ConnectionFilePath();

struct ConnectionFile {
  enum class State { kAbsent, kRead, kBroken };
  State state = State::kAbsent;
  ServiceConnection connection;  // kRead
  std::string problem;           // kBroken: what is wrong, naming the file
};

// The file's text: unknown keys and "#" comment lines are passed over (a later version's file
// still reads); a missing or bad service or identity makes it broken.
ConnectionFile ParseConnection(std::string_view text, const std::filesystem::path& file);
std::string FormatConnection(const ServiceConnection& connection);

ConnectionFile ReadConnection(const std::filesystem::path& file);
// Writes the whole file anew in one step (a new file renamed over the old), readable by the user
// alone, making its folder when needed. Nothing on success, else why not.
std::optional<std::string> WriteConnection(const std::filesystem::path& file, const ServiceConnection& connection);

// The connection's certificate file as PEM text (empty when it names none). Nothing and *problem
// set when the file cannot be read or holds no PEM certificate.
std::optional<std::string> ReadCertificatePem(const ServiceConnection& connection, std::string* problem);

// The identity as shown to a user: its first and last few characters only.
std::string MaskedIdentity(std::string_view identity);

// A private file made anew with bytes as its whole content (0600 on Linux; on Windows the
// user's profile folder keeps it private). The per-system half of WriteConnection.
std::optional<std::string> CreatePrivateFile(const std::filesystem::path& file, std::string_view bytes);

}  // namespace torvo
