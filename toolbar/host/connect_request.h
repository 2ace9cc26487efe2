#pragma once
// The options page's messages: connect to the user's own service ({"type":"connect", ...}) and
// forget that connection ({"type":"forget"}). Checked like the page requests: known fields only,
// each a text within its bound, an http(s) service address, and a certificate that is PEM.
#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

#include "platform/service_connection.h"
#include "toolbar/host/toolbar_request.h"

namespace torvo::toolbar {

inline constexpr size_t kMaxServiceBytes = 2048;
inline constexpr size_t kMaxNameBytes = 256;
inline constexpr size_t kMaxPasswordBytes = 1024;
inline constexpr size_t kMaxDeviceBytes = 100;
inline constexpr size_t kMaxCertificateBytes = 64 * 1024;

struct ConnectRequest {
  ServiceAddress service;
  std::string name;         // with password: sign in as this user
  std::string password;
  std::string toolbarId;    // else: a ToolbarID pasted by the user
  std::string device;       // the device's name on the service
  std::string certificate;  // PEM text to trust beside the system's; empty: the system's alone
};

struct ForgetRequest {};

// The message's "type": "connect" or "forget". Only called when the message has a "type".
std::variant<ConnectRequest, ForgetRequest, Refusal> ParseOptionsRequest(const nlohmann::json& message);

// One or more PEM certificates and nothing else but blank lines between them.
bool IsPemCertificate(std::string_view text);

}  // namespace torvo::toolbar
