#include "toolbar/host/service_connector.h"

#include <nlohmann/json.hpp>

#include "platform/codepage.h"
#include "platform/http.h"
#include "upload/folder_list.h"

namespace torvo::toolbar {

namespace {

using Kind = ConnectOutcome::Kind;

ConnectOutcome Outcome(Kind kind, std::string message) {
  ConnectOutcome outcome;
  outcome.kind = kind;
  outcome.message = std::move(message);
  return outcome;
}

std::string FormField(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// A transport failure told apart, naming the host.
ConnectOutcome TransportOutcome(const HttpResult& result, const ServiceAddress& service) {
  const std::string host = service.Authority();
  switch (result.failure) {
    case HttpResult::Failure::kUntrusted:
      return Outcome(Kind::kUntrusted, "The certificate of " + host + " is not trusted.");
    case HttpResult::Failure::kNotTls:
      return Outcome(Kind::kWrongProtocol, host + " does not speak https: use an http:// address.");
    case HttpResult::Failure::kSpeaksTls:
      return Outcome(Kind::kWrongProtocol, host + " speaks https: use an https:// address.");
    case HttpResult::Failure::kUnreachable:
      return Outcome(Kind::kUnreachable, host + " cannot be reached.");
    default:
      return Outcome(Kind::kUnreachable, host + " cannot be reached: " + result.error);
  }
}

// The options page waits for the answer: short time limits, and a reply is small.
HttpTimeouts ConnectTimeouts() {
  HttpTimeouts timeouts;
  timeouts.connectMs = 8000;
  timeouts.totalMs = 20000;
  timeouts.maxBodyBytes = 1 << 20;
  return timeouts;
}

// The upload host a folder list names is a host name or address with an optional port; any
// other text (a web page) means the server is not a Torvo service.
bool LooksLikeHost(std::u16string_view target) {
  if (target.empty() || target.size() > 255) return false;
  for (char16_t c : target) {
    bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'.' ||
              c == u'-' || c == u':' || c == u'[' || c == u']';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

ConnectOutcome HttpServiceConnector::SignIn(const ServiceAddress& service, const std::string& name,
                                            const std::string& password, const std::string& device,
                                            const std::string& certificatePem) {
  const std::string notTorvo = service.Url() + " is not a Torvo service.";
  HttpResult result;
  {
    HttpClient http(ConnectTimeouts());
    if (!certificatePem.empty()) http.SetExtraTrustedCertificates(certificatePem);
    result = http.Post(service.Url("deviceSignIn.php"), "application/x-www-form-urlencoded",
                       "name=" + FormField(name) + "&password=" + FormField(password) + "&device=" + FormField(device));
  }
  if (!result.transportOk) return TransportOutcome(result, service);
  auto reply = nlohmann::json::parse(result.body, nullptr, false);
  if (reply.is_discarded() || !reply.is_object() || reply.value("torvo", 0) != 1) {
    return Outcome(Kind::kNotTorvo, notTorvo);
  }
  if (result.status == 401) return Outcome(Kind::kCredentials, "The name or the password is wrong.");
  if (result.status == 429) {
    int wait = reply.value("retryAfter", 0);
    return Outcome(Kind::kSlowed, "Too many wrong passwords: try again in " + std::to_string(wait) + " s.");
  }
  if (result.status != 200 || !reply.contains("identity") || !reply["identity"].is_string()) {
    std::string why = reply.contains("message") && reply["message"].is_string() ? reply["message"].get<std::string>()
                                                                                  : "HTTP " + std::to_string(result.status);
    return Outcome(Kind::kFailed, "The service refused the sign-in: " + why);
  }
  ConnectOutcome checked = Check(service, reply["identity"].get<std::string>(), certificatePem);
  if (reply.contains("name") && reply["name"].is_string()) checked.name = reply["name"].get<std::string>();
  return checked;
}

ConnectOutcome HttpServiceConnector::Check(const ServiceAddress& service, const std::string& identity,
                                           const std::string& certificatePem) {
  HttpClient http(ConnectTimeouts());
  if (!certificatePem.empty()) http.SetExtraTrustedCertificates(certificatePem);
  HttpResult result = http.Get(upload::FolderListUrl(service.Url(), FromUtf8(identity)));
  if (!result.transportOk) return TransportOutcome(result, service);
  if (result.status != 200) return Outcome(Kind::kNotTorvo, service.Url() + " is not a Torvo service.");
  upload::FolderReply reply = upload::ParseFolderReply(FromCp949(result.body));
  if (reply.kind == upload::FolderReply::Kind::kSignedOut) {
    return Outcome(Kind::kSignedOut, "The service does not know this ToolbarID (signed out).");
  }
  if (reply.kind != upload::FolderReply::Kind::kFolders || !LooksLikeHost(reply.target)) {
    return Outcome(Kind::kNotTorvo, service.Url() + " is not a Torvo service.");
  }
  ConnectOutcome outcome;
  outcome.kind = Kind::kConnected;
  outcome.identity = identity;
  // The list leaves out the default folder, which every user has.
  outcome.folders = static_cast<int>(reply.folders.size()) + 1;
  return outcome;
}

bool HttpServiceConnector::SignOut(const ServiceAddress& service, const std::string& identity,
                                   const std::string& certificatePem) {
  HttpClient http(ConnectTimeouts());
  if (!certificatePem.empty()) http.SetExtraTrustedCertificates(certificatePem);
  HttpResult result = http.Post(service.Url("deviceSignOut.php"), "application/x-www-form-urlencoded",
                                "tid=" + FormField(identity));
  if (!result.Success()) return false;
  auto reply = nlohmann::json::parse(result.body, nullptr, false);
  return reply.is_object() && reply.value("revoked", false);
}

}  // namespace torvo::toolbar
