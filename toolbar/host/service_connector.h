#pragma once
// The options page's Connect, as the host carries it out: sign in (or take a pasted ToolbarID),
// check the identity with the folder list exchange, and only then save the connection; Forget
// revokes the device and removes it. What the service said comes back as one outcome each.
#include <filesystem>
#include <string>

#include "platform/service_connection.h"

namespace torvo::toolbar {

struct ConnectOutcome {
  enum class Kind {
    kConnected,     // identity (and the name when signed in) and folders are set
    kUnreachable,   // no connection to the address
    kNotTorvo,      // something answered, but not a Torvo service
    kUntrusted,     // https: the certificate did not verify
    kWrongProtocol, // http to a TLS server or https to a plain one
    kCredentials,   // name or password wrong
    kSlowed,        // too many wrong passwords: wait
    kSignedOut,     // the ToolbarID is not (or no longer) valid
    kFailed,        // anything else: message says
  };
  Kind kind = Kind::kFailed;
  std::string name;
  std::string identity;
  int folders = 0;
  std::string message;  // for the user, naming the host where it matters
};

// The exchanges with the service; a stand-in in tests.
class ServiceConnector {
 public:
  virtual ~ServiceConnector() = default;
  // deviceSignIn.php, then the check below with the new identity.
  virtual ConnectOutcome SignIn(const ServiceAddress& service, const std::string& name, const std::string& password,
                                const std::string& device, const std::string& certificatePem) = 0;
  // The folder list exchange with this identity.
  virtual ConnectOutcome Check(const ServiceAddress& service, const std::string& identity,
                               const std::string& certificatePem) = 0;
  // deviceSignOut.php; true when the service revoked it.
  virtual bool SignOut(const ServiceAddress& service, const std::string& identity,
                       const std::string& certificatePem) = 0;
};

// The real exchanges over HTTP(S), trusting the system's certificates and the named ones.
class HttpServiceConnector final : public ServiceConnector {
 public:
  ConnectOutcome SignIn(const ServiceAddress& service, const std::string& name, const std::string& password,
                        const std::string& device, const std::string& certificatePem) override;
  ConnectOutcome Check(const ServiceAddress& service, const std::string& identity,
                       const std::string& certificatePem) override;
  bool SignOut(const ServiceAddress& service, const std::string& identity, const std::string& certificatePem) override;
};

// The code the extension translates for each outcome ("connected", "unreachable", ...).
const char* OutcomeCode(ConnectOutcome::Kind kind);

}  // namespace torvo::toolbar
