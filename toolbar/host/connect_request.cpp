#include "toolbar/host/connect_request.h"

#include <nlohmann/json.hpp>

#include <array>

#include "toolbar/host/service_connector.h"

namespace torvo::toolbar {

namespace {

using nlohmann::json;

struct TextField {
  const char* name;
  const char* label;
  size_t maxBytes;
};

const std::array<TextField, 7> kConnectFields{{
    {"type", "The message's type", 16},
    {"service", "The service's address", kMaxServiceBytes},
    {"name", "The name", kMaxNameBytes},
    {"password", "The password", kMaxPasswordBytes},
    {"toolbarId", "The ToolbarID", kMaxToolbarIdBytes},
    {"device", "The device's name", kMaxDeviceBytes},
    {"certificate", "The certificate", kMaxCertificateBytes},
}};

bool IsBase64Line(std::string_view line) {
  if (line.empty()) return false;
  for (char c : line) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
              c == '/' || c == '=';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool IsPemCertificate(std::string_view text) {
  constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  int certificates = 0;
  bool inside = false;
  size_t bodyLines = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (!inside) {
      if (line.empty()) continue;
      if (line != kBegin) return false;
      inside = true;
      bodyLines = 0;
    } else if (line == kEnd) {
      if (bodyLines == 0) return false;
      inside = false;
      ++certificates;
    } else if (IsBase64Line(line)) {
      ++bodyLines;
    } else {
      return false;
    }
  }
  return !inside && certificates > 0;
}

std::variant<ConnectRequest, ForgetRequest, Refusal> ParseOptionsRequest(const json& message) {
  const json& type = message["type"];
  if (!type.is_string()) return Refusal{"not_string", "The field \"type\" must be a text."};
  if (type == "forget") {
    if (message.size() != 1) return Refusal{"unknown_field", "A forget message has no other field than \"type\"."};
    return ForgetRequest{};
  }
  if (type != "connect") return Refusal{"unknown_type", "The message's type must be \"connect\" or \"forget\"."};

  std::array<std::string, kConnectFields.size()> values;
  for (const auto& [name, value] : message.items()) {
    size_t index = kConnectFields.size();
    for (size_t i = 0; i < kConnectFields.size(); ++i) {
      if (name == kConnectFields[i].name) index = i;
    }
    if (index == kConnectFields.size()) {
      return Refusal{"unknown_field", "The message has the unknown field \"" + name.substr(0, 64) + "\"."};
    }
    if (!value.is_string()) return Refusal{"not_string", "The field \"" + name + "\" must be a text."};
    const std::string& text = value.get_ref<const std::string&>();
    const TextField& field = kConnectFields[index];
    if (text.size() > field.maxBytes) {
      return Refusal{"too_long", std::string(field.label) + " is " + std::to_string(text.size()) +
                                     " bytes long; at most " + std::to_string(field.maxBytes) + " are taken."};
    }
    if (text.find('\0') != std::string::npos) {
      return Refusal{"nul_character", std::string(field.label) + " contains a NUL character."};
    }
    values[index] = text;
  }

  ConnectRequest request;
  const std::string& service = values[1];
  if (service.rfind("http://", 0) != 0 && service.rfind("https://", 0) != 0) {
    return Refusal{"not_http", "The service's address must begin with http:// or https://."};
  }
  std::string problem;
  auto address = ParseServiceAddress(service, &problem);
  if (!address) return Refusal{"bad_address", "The service's address cannot be used: " + problem};
  request.service = *address;
  request.name = values[2];
  request.password = values[3];
  request.toolbarId = values[4];
  request.device = values[5];
  request.certificate = values[6];
  for (char c : request.device) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return Refusal{"bad_device", "The device's name cannot contain control characters."};
    }
  }
  if (request.toolbarId.empty() && (request.name.empty() || request.password.empty())) {
    return Refusal{"missing_field", "Enter the name and the password, or a ToolbarID."};
  }
  if (!request.toolbarId.empty() && !request.name.empty()) {
    return Refusal{"both_credentials", "Give either the name and password or a ToolbarID, not both."};
  }
  // The ToolbarID travels on TorvoTool's command line, whose fields ";^;" separates.
  if (request.toolbarId.find(";^;") != std::string::npos || request.toolbarId.ends_with(";^")) {
    return Refusal{"separator", "A ToolbarID cannot contain \";^;\" or end in \";^\"."};
  }
  if (!request.certificate.empty() && !IsPemCertificate(request.certificate)) {
    return Refusal{"not_pem", "The certificate is not a PEM certificate (-----BEGIN CERTIFICATE----- ...)."};
  }
  return request;
}

const char* OutcomeCode(ConnectOutcome::Kind kind) {
  switch (kind) {
    case ConnectOutcome::Kind::kConnected: return "connected";
    case ConnectOutcome::Kind::kUnreachable: return "unreachable";
    case ConnectOutcome::Kind::kNotTorvo: return "not_torvo";
    case ConnectOutcome::Kind::kUntrusted: return "untrusted_certificate";
    case ConnectOutcome::Kind::kWrongProtocol: return "wrong_protocol";
    case ConnectOutcome::Kind::kCredentials: return "credentials";
    case ConnectOutcome::Kind::kSlowed: return "slowed";
    case ConnectOutcome::Kind::kSignedOut: return "signed_out";
    case ConnectOutcome::Kind::kFailed: return "connect_failed";
  }
  return "connect_failed";
}

}  // namespace torvo::toolbar
