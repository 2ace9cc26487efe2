#include "toolbar/host/service_connector.h"

#include <random>
#include <system_error>

#include "connect/connect.h"
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

// The options page waits for the answer: short time limits, and a reply is small.
HttpTimeouts ConnectTimeouts() {
  HttpTimeouts timeouts;
  timeouts.connectMs = 8000;
  timeouts.totalMs = 20000;
  timeouts.maxBodyBytes = 1 << 20;
  return timeouts;
}

// torvo-connect's own steps (sign in, check, save) run against a scratch folder of the host's
// own: the certificate the page sent is a file there, and so is the connection they save, which
// the host then writes where it belongs. The scratch folder goes whatever happens.
class Scratch {
 public:
  Scratch() {
    std::error_code error;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    if (error) return;
    std::random_device random;
    for (int tries = 0; tries < 16; ++tries) {
      std::filesystem::path folder = temporary / ("torvo-connect-" + std::to_string(random()));
      // A new folder only: one that exists may be someone else's.
      if (std::filesystem::create_directory(folder, error)) {
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
        folder_ = folder;
        return;
      }
    }
  }
  ~Scratch() {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  bool Ok() const { return !folder_.empty(); }
  std::filesystem::path Path(const char* name) const { return folder_ / name; }

 private:
  std::filesystem::path folder_;
};

ConnectOutcome FromCore(const connect::Result& result) {
  switch (result.outcome) {
    case connect::Outcome::kSaved: {
      ConnectOutcome outcome;
      outcome.kind = Kind::kConnected;
      outcome.identity = result.connection.identity;
      return outcome;
    }
    case connect::Outcome::kUnreachable: return Outcome(Kind::kUnreachable, result.message);
    case connect::Outcome::kUntrusted: return Outcome(Kind::kUntrusted, result.message);
    case connect::Outcome::kNotTls:
    case connect::Outcome::kSpeaksTls: return Outcome(Kind::kWrongProtocol, result.message);
    case connect::Outcome::kNotTorvo: return Outcome(Kind::kNotTorvo, result.message);
    case connect::Outcome::kCredentials: return Outcome(Kind::kCredentials, result.message);
    case connect::Outcome::kSlowed: return Outcome(Kind::kSlowed, result.message);
    case connect::Outcome::kSignedOut: return Outcome(Kind::kSignedOut, result.message);
    default: return Outcome(Kind::kFailed, result.message);
  }
}

// How many folders the page may name: the folder list, whose default folder every user has.
int CountFolders(const ServiceAddress& service, const std::string& identity, const std::string& certificatePem) {
  HttpClient http(ConnectTimeouts());
  if (!certificatePem.empty()) http.SetExtraTrustedCertificates(certificatePem);
  HttpResult result = http.Get(upload::FolderListUrl(service.Url(), FromUtf8(identity)));
  if (!result.Success()) return 1;
  upload::FolderReply reply = upload::ParseFolderReply(FromCp949(result.body));
  return static_cast<int>(reply.folders.size()) + 1;
}

// Runs one of torvo-connect's steps with the certificate as a file.
template <typename Step>
ConnectOutcome RunCore(const ServiceAddress& service, const std::string& certificatePem, Step step) {
  Scratch scratch;
  if (!scratch.Ok()) return Outcome(Kind::kFailed, "No scratch folder could be made for the connection.");
  std::string certificateFile;
  if (!certificatePem.empty()) {
    if (auto problem = CreatePrivateFile(scratch.Path("certificate.pem"), certificatePem)) {
      return Outcome(Kind::kFailed, "The certificate could not be read: " + *problem);
    }
    certificateFile = scratch.Path("certificate.pem").string();
  }
  connect::CurlHttp http(ConnectTimeouts());
  ConnectOutcome outcome = FromCore(step(http, certificateFile, scratch.Path("connection")));
  if (outcome.kind == Kind::kConnected) outcome.folders = CountFolders(service, outcome.identity, certificatePem);
  return outcome;
}

}  // namespace

ConnectOutcome HttpServiceConnector::SignIn(const ServiceAddress& service, const std::string& name,
                                            const std::string& password, const std::string& device,
                                            const std::string& certificatePem) {
  ConnectOutcome outcome = RunCore(service, certificatePem, [&](connect::Http& http, const std::string& certificate,
                                                                 const std::filesystem::path& file) {
    return connect::ConnectWithPassword(http, {service.Url(), name, password, device, certificate}, file);
  });
  if (outcome.kind == Kind::kConnected) outcome.name = name;
  return outcome;
}

ConnectOutcome HttpServiceConnector::Check(const ServiceAddress& service, const std::string& identity,
                                           const std::string& certificatePem) {
  return RunCore(service, certificatePem, [&](connect::Http& http, const std::string& certificate,
                                              const std::filesystem::path& file) {
    return connect::ConnectWithToolbarId(http, service.Url(), identity, certificate, file);
  });
}

bool HttpServiceConnector::SignOut(const ServiceAddress& service, const std::string& identity,
                                   const std::string& certificatePem) {
  HttpClient http(ConnectTimeouts());
  if (!certificatePem.empty()) http.SetExtraTrustedCertificates(certificatePem);
  HttpResult result = http.Post(service.Url("deviceSignOut.php"), "application/x-www-form-urlencoded",
                                connect::FormField("tid", identity));
  if (!result.Success()) return false;
  return connect::JsonValue(result.body, "revoked") == "true";
}

}  // namespace torvo::toolbar
