#include "connect/connect.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "platform/codepage.h"
#include "platform/paths.h"

namespace torvo::connect {
namespace {

Result Fail(Outcome outcome, std::string message) {
  Result r;
  r.outcome = outcome;
  r.message = std::move(message);
  return r;
}

// A transport failure or a non-Torvo answer as the user's outcome; nothing when the reply is one
// the caller reads itself.
std::optional<Result> TransportOutcome(const HttpResult& reply, const ServiceAddress& service) {
  const std::string host = service.Authority();
  if (reply.transportOk) return std::nullopt;
  switch (reply.failure) {
    case HttpResult::Failure::kUnreachable:
      return Fail(Outcome::kUnreachable, "Cannot reach " + host + ": " + reply.error + ".");
    case HttpResult::Failure::kUntrusted:
      return Fail(Outcome::kUntrusted, "The certificate of " + host +
                                           " is not trusted. If the server has a certificate of its own, name it "
                                           "(or its CA) with --certificate FILE.");
    case HttpResult::Failure::kNotTls:
      return Fail(Outcome::kNotTls, host + " does not speak https (TLS) there: is its address http://?");
    case HttpResult::Failure::kSpeaksTls:
      return Fail(Outcome::kSpeaksTls, host + " speaks https (TLS) there: give its address with https://.");
    default:
      return Fail(Outcome::kFailed, "No answer from " + host + ": " + reply.error + ".");
  }
}

Result NotTorvo(const ServiceAddress& service, const HttpResult& reply) {
  return Fail(Outcome::kNotTorvo, service.Authority() + " answered, but not as a Torvo service (HTTP " +
                                      std::to_string(reply.status) + " at " + service.Url() +
                                      "): check the address and its path.");
}

// The folder list exchange: "0" is signed out, "target|name^id|..." a signed-in identity. The
// identity goes as the programs send it, in code page 949 bytes (the service reads tid so), with
// only what a request target cannot hold escaped.
Result Check(Http& http, const ServiceAddress& service, const std::string& identity) {
  const HttpResult reply =
      http.Get(EscapeRequestTarget(service.Url("imgList.php?state=geturi&tid=") + ToCp949(FromUtf8(identity))));
  if (auto failed = TransportOutcome(reply, service)) return *failed;
  if (!reply.Success()) return NotTorvo(service, reply);
  if (reply.body == "0") {
    return Fail(Outcome::kSignedOut, service.Authority() + " does not know this identity: it is signed out or was revoked.");
  }
  const std::string target = reply.body.substr(0, reply.body.find('|'));
  if (target.empty() || target.find_first_of("<>\r\n \t") != std::string::npos) return NotTorvo(service, reply);
  Result ok;
  ok.outcome = Outcome::kSaved;
  return ok;
}

Result Save(const std::filesystem::path& file, ServiceConnection connection, const std::string& who) {
  if (auto error = WriteConnection(file, connection)) {
    return Fail(Outcome::kNotSaved, "Could not save the connection: " + *error + ".");
  }
  Result r;
  r.outcome = Outcome::kSaved;
  r.message = "Connected to " + connection.service.Url() + who + "; saved in " + Utf8Path(file) + ".";
  r.connection = std::move(connection);
  return r;
}

// The address read and its certificate trusted, or the outcome that stops here.
std::optional<Result> Prepare(Http& http, const std::string& address, const std::string& certificateFile,
                              ServiceConnection& connection) {
  std::string problem;
  const std::optional<ServiceAddress> service = ParseServiceAddress(address, &problem);
  if (!service) return Fail(Outcome::kBadAddress, "Not a service address: " + problem + ".");
  connection.service = *service;
  if (!certificateFile.empty()) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(PathFromUtf8(certificateFile), ec);
    connection.certificate = Utf8Path(ec ? PathFromUtf8(certificateFile) : absolute);
  }
  const std::optional<std::string> pem = ReadCertificatePem(connection, &problem);
  if (!pem) return Fail(Outcome::kBadCertificate, "Cannot use the certificate: " + problem + ".");
  http.Trust(*pem);
  return std::nullopt;
}

}  // namespace

std::string FormField(const std::string& name, const std::string& value) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = name + "=";
  for (const unsigned char c : value) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~';
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

std::string JsonValue(const std::string& json, const std::string& key) {
  const std::string quoted = "\"" + key + "\"";
  size_t at = 0;
  while ((at = json.find(quoted, at)) != std::string::npos) {
    size_t i = json.find_first_not_of(" \t\r\n", at + quoted.size());
    if (i == std::string::npos || json[i] != ':') {
      at += quoted.size();
      continue;
    }
    i = json.find_first_not_of(" \t\r\n", i + 1);
    if (i == std::string::npos) return {};
    if (json[i] != '"') {
      const size_t end = json.find_first_of(",} \t\r\n", i);
      return json.substr(i, end == std::string::npos ? std::string::npos : end - i);
    }
    std::string text;
    for (++i; i < json.size() && json[i] != '"'; ++i) {
      if (json[i] == '\\' && i + 1 < json.size()) {
        ++i;
        const char e = json[i];
        text.push_back(e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e);
      } else {
        text.push_back(json[i]);
      }
    }
    return text;
  }
  return {};
}

Result ConnectWithPassword(Http& http, const SignInRequest& request, const std::filesystem::path& file) {
  ServiceConnection connection;
  if (auto stop = Prepare(http, request.address, request.certificateFile, connection)) return *stop;
  const ServiceAddress& service = connection.service;
  const std::string device = request.device.empty() ? "device" : request.device;
  const std::string body =
      FormField("name", request.name) + "&" + FormField("password", request.password) + "&" + FormField("device", device);
  const HttpResult reply = http.PostForm(service.Url("deviceSignIn.php"), body);
  if (auto failed = TransportOutcome(reply, service)) return *failed;
  // Every answer of the exchange says it is Torvo's; a page of any other server does not.
  if (JsonValue(reply.body, "torvo") != "1") return NotTorvo(service, reply);
  if (reply.status == 401) return Fail(Outcome::kCredentials, "Wrong name or password for " + service.Authority() + ".");
  if (reply.status == 429) {
    const std::string wait = JsonValue(reply.body, "retryAfter");
    return Fail(Outcome::kSlowed, "Too many wrong passwords: try again in " + (wait.empty() ? std::string("a few") : wait) +
                                      " seconds.");
  }
  const std::string identity = JsonValue(reply.body, "identity");
  if (!reply.Success() || identity.empty()) {
    const std::string why = JsonValue(reply.body, "message");
    return Fail(Outcome::kFailed, service.Authority() + " refused the sign-in (HTTP " + std::to_string(reply.status) +
                                      (why.empty() ? std::string() : ": " + why) + ").");
  }
  connection.identity = identity;
  Result checked = Check(http, service, identity);
  if (checked.outcome != Outcome::kSaved) return checked;
  const std::string name = JsonValue(reply.body, "name");
  return Save(file, connection, " as " + (name.empty() ? request.name : name) + " (device \"" + device + "\")");
}

Result ConnectWithToolbarId(Http& http, const std::string& address, const std::string& toolbarId,
                            const std::string& certificateFile, const std::filesystem::path& file) {
  ServiceConnection connection;
  if (auto stop = Prepare(http, address, certificateFile, connection)) return *stop;
  connection.identity = toolbarId;
  // A ToolbarID may hold spaces, as the service's identities may; what the connection file cannot
  // keep (control characters, spaces at its ends) is no usable ToolbarID.
  const bool control = std::any_of(toolbarId.begin(), toolbarId.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
  if (toolbarId.empty() || control || toolbarId.front() == ' ' || toolbarId.back() == ' ') {
    return Fail(Outcome::kSignedOut, "No usable ToolbarID was given on standard input.");
  }
  Result checked = Check(http, connection.service, toolbarId);
  if (checked.outcome != Outcome::kSaved) return checked;
  return Save(file, connection, " with the ToolbarID " + MaskedIdentity(toolbarId));
}

std::string Describe(const ConnectionFile& file, const std::filesystem::path& path) {
  switch (file.state) {
    case ConnectionFile::State::kAbsent:
      return "Not connected (no " + Utf8Path(path) + ").\n";
    case ConnectionFile::State::kBroken:
      return "The connection cannot be used: " + file.problem + ".\n";
    case ConnectionFile::State::kRead:
      break;
  }
  std::string text = "service     " + file.connection.service.Url() + "\n";
  text += "identity    " + MaskedIdentity(file.connection.identity) + "\n";
  if (!file.connection.certificate.empty()) text += "certificate " + file.connection.certificate + "\n";
  text += "file        " + Utf8Path(path) + "\n";
  return text;
}

bool Forget(Http& http, const std::filesystem::path& file, std::string* message) {
  const ConnectionFile read = ReadConnection(file);
  if (read.state == ConnectionFile::State::kAbsent) {
    *message = "Not connected: nothing to forget.";
    return true;
  }
  std::string revoked;
  if (read.state == ConnectionFile::State::kRead) {
    const ServiceConnection& connection = read.connection;
    std::string problem;
    if (const std::optional<std::string> pem = ReadCertificatePem(connection, &problem)) http.Trust(*pem);
    const HttpResult reply = http.PostForm(connection.service.Url("deviceSignOut.php"), FormField("tid", connection.identity));
    if (reply.Success() && JsonValue(reply.body, "torvo") == "1") {
      revoked = JsonValue(reply.body, "revoked") == "true" ? " and signed this device out at " : " (the service had already signed it out: ";
      revoked += connection.service.Authority();
      if (JsonValue(reply.body, "revoked") != "true") revoked += ")";
    } else {
      revoked = "; the device could not be signed out at " + connection.service.Authority() + " (" +
                (reply.transportOk ? "HTTP " + std::to_string(reply.status) : reply.error) +
                "): revoke it on the service's settings page";
    }
  }
  std::error_code ec;
  std::filesystem::remove(file, ec);
  if (ec) {
    *message = "Could not remove " + Utf8Path(file) + ": " + ec.message() + ".";
    return false;
  }
  *message = "Forgot the connection" + revoked + ".";
  return true;
}

}  // namespace torvo::connect
