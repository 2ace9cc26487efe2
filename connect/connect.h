#pragma once
// Connecting once: signing in to the user's own service for this device (or taking a ToolbarID
// the user already has), checking the new identity with the folder list exchange, and only then
// saving the connection. No toolkit: torvo-connect and the toolbar's host both drive it.
#include <filesystem>
#include <string>

#include "platform/http.h"
#include "platform/service_connection.h"

namespace torvo::connect {

enum class Outcome {
  kSaved,
  kBadAddress,       // not an http(s) address of a service folder
  kBadCertificate,   // the --certificate file cannot be read or holds no PEM certificate
  kUnreachable,      // no connection to the host
  kUntrusted,        // https: the certificate did not verify
  kNotTls,           // https address, plain http server
  kSpeaksTls,        // http address, TLS server
  kNotTorvo,         // a server answered, but not as a Torvo service
  kCredentials,      // wrong name or password
  kSlowed,           // too many wrong passwords: wait
  kSignedOut,        // the identity is not (or no longer) signed in
  kNotSaved,         // the file could not be written
  kFailed,           // anything else the server or the network did: the message says
};

struct Result {
  Outcome outcome = Outcome::kFailed;
  std::string message;  // one line for the user
  ServiceConnection connection;  // kSaved
};

struct SignInRequest {
  std::string address;
  std::string name;
  std::string password;
  std::string device;           // empty: "device"
  std::string certificateFile;  // empty: the system's trust alone
};

// The exchanges the steps need; HttpClient is the real one.
class Http {
 public:
  virtual ~Http() = default;
  virtual void Trust(const std::string& pem) = 0;
  virtual HttpResult Get(const std::string& url) = 0;
  virtual HttpResult PostForm(const std::string& url, const std::string& body) = 0;
};

class CurlHttp final : public Http {
 public:
  explicit CurlHttp(HttpTimeouts timeouts = {5000, 20000, 10000}) : client_(timeouts) {}
  void Trust(const std::string& pem) override { client_.SetExtraTrustedCertificates(pem); }
  HttpResult Get(const std::string& url) override { return client_.Get(url); }
  HttpResult PostForm(const std::string& url, const std::string& body) override {
    return client_.Post(url, "application/x-www-form-urlencoded", body);
  }

 private:
  HttpClient client_;
};

// Signs in, checks, saves to file. Nothing is written unless the outcome is kSaved.
Result ConnectWithPassword(Http& http, const SignInRequest& request, const std::filesystem::path& file);
// Checks toolbarId at address and saves it to file; the same outcomes without the sign-in's.
Result ConnectWithToolbarId(Http& http, const std::string& address, const std::string& toolbarId,
                            const std::string& certificateFile, const std::filesystem::path& file);

// The connection in file as lines for a user (never the identity whole).
std::string Describe(const ConnectionFile& file, const std::filesystem::path& path);

// Revokes the device's identity at its service (when it can) and removes the file. The message
// tells both; false only when the file stays.
bool Forget(Http& http, const std::filesystem::path& file, std::string* message);

// "a=b&c=d" with every byte but unreserved ones percent-escaped.
std::string FormField(const std::string& name, const std::string& value);

// The value of "key" in a flat JSON object: a string's text (escapes read) or a number's or
// literal's text. Empty when absent.
std::string JsonValue(const std::string& json, const std::string& key);

}  // namespace torvo::connect
