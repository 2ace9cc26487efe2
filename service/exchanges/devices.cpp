// Devices: a program or a toolbar signs in once with the user's name and password and gets a
// ToolbarID of its own, which the settings page lists and revokes.
#include <charconv>
#include <cstdio>
#include <ctime>

#include "service/wire/connection.h"
#include "service/wire/url.h"
#include "service/web/web.h"

namespace torvo::service {

namespace {

constexpr const char* kJsonType = "application/json; charset=utf-8";

// The exchanges answer to their paths also in the absolute form of the request line.
constexpr const char* kAnyHost = R"((?:https?://[^/]*)?)";

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Every reply names the service, so a client can tell a Torvo service from any other server.
void Reply(httplib::Response& response, int status, const std::string& fields) {
  response.status = status;
  response.set_header("Cache-Control", "no-store");
  response.set_content("{\"torvo\":1," + fields + "}", kJsonType);
}

void BadRequest(httplib::Response& response, const std::string& why) {
  if (Connection* connection = Connection::Current()) connection->AddNote(why);
  Reply(response, 400, "\"error\":\"request\",\"message\":" + JsonString(why));
}

// The form's fields (browser encoding: "+" is a space); the first of a name counts.
std::map<std::string, std::string> Fields(std::string_view body) {
  std::map<std::string, std::string> fields;
  for (auto& [name, value] : ParseQuery(body, PlusMeans::kSpace)) fields.emplace(std::move(name), std::move(value));
  return fields;
}

// A form body, or a reason why the request carries none.
std::string FormProblem(const httplib::Request& request) {
  std::string type = request.get_header_value("Content-Type");
  type = type.substr(0, type.find(';'));
  while (type.ends_with(' ')) type.pop_back();
  for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!type.empty() && type != "application/x-www-form-urlencoded") {
    return "the body must be application/x-www-form-urlencoded, not " + type;
  }
  return {};
}

bool IsLoopbackPeer(const std::string& address) {
  return address.starts_with("127.") || address == "::1" || address.starts_with("::ffff:127.");
}

// The date and the time break apart on a narrow screen, never inside.
std::string LocalMinuteHtml(std::time_t time) {
  std::tm parts{};
  localtime_r(&time, &parts);
  char text[64];
  std::strftime(text, sizeof text, "<span>%Y-%m-%d</span> <span>%H:%M</span>", &parts);
  return text;
}

}  // namespace

void WebPages::RegisterDevices(httplib::Server& server) {
  using Request = httplib::Request;
  using Response = httplib::Response;
  const std::string any = kAnyHost;
  server.Post(any + R"(/deviceSignIn\.php)", [this](const Request& q, Response& r) { DeviceSignIn(q, r); });
  server.Post(any + R"(/deviceSignOut\.php)", [this](const Request& q, Response& r) { DeviceSignOut(q, r); });
  server.Post(R"(/settings/devices/(\d+)/revoke)", [this](const Request& q, Response& r) { RevokeDevice(q, r); });
}

void WebPages::DeviceSignIn(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  if (std::string problem = FormProblem(request); !problem.empty()) return BadRequest(response, problem);
  auto fields = Fields(request.body);
  if (!fields.contains("name") || !fields.contains("password")) {
    return BadRequest(response, "the form needs the fields name and password");
  }
  const std::string& name = fields["name"];
  const std::string& password = fields["password"];
  if (name.empty()) return BadRequest(response, "the name is empty");
  std::string device;
  try {
    device = Store::DeviceName(fields["device"]);
  } catch (const StoreError& error) {
    return BadRequest(response, error.what());
  }

  // The same counts and waits as the page's sign-in: a guesser gains nothing by switching.
  int wait = throttle_.WaitSeconds(name, visit.client);
  if (wait > 0) {
    if (Connection* connection = Connection::Current()) connection->AddNote("sign-in slowed down");
    response.set_header("Retry-After", std::to_string(wait));
    return Reply(response, 429, "\"error\":\"slowed\",\"retryAfter\":" + std::to_string(wait));
  }
  auto user = store_.FindUserByName(name);
  std::string hash = user ? store_.PasswordHash(user->id) : std::string{};
  // Unknown names cost a hash too, so the time taken does not tell which names exist.
  static const std::string kNobody = HashPassword(RandomToken());
  bool good = VerifyPassword(hash.empty() ? kNobody : hash, password) && !hash.empty();
  if (!good) {
    throttle_.Failed(name, visit.client);
    if (Connection* connection = Connection::Current()) connection->AddNote("device sign-in failed");
    return Reply(response, 401, "\"error\":\"credentials\"");
  }
  throttle_.Succeeded(name, visit.client);
  Device added = store_.AddDevice(user->id, device, RandomToken());
  if (Connection* connection = Connection::Current()) {
    connection->AddNote("device " + std::to_string(added.id) + " of " + user->name);
  }
  Reply(response, 200, "\"identity\":" + JsonString(added.toolbarId) + ",\"name\":" + JsonString(user->name));
}

void WebPages::DeviceSignOut(const httplib::Request& request, httplib::Response& response) {
  Begin(request, response);
  if (std::string problem = FormProblem(request); !problem.empty()) return BadRequest(response, problem);
  auto fields = Fields(request.body);
  std::string toolbarId = fields["tid"];
  if (toolbarId.empty()) return BadRequest(response, "the form needs the field tid");
  bool revoked = store_.RevokeDevice(toolbarId);
  Reply(response, 200, std::string("\"revoked\":") + (revoked ? "true" : "false"));
}

void WebPages::RevokeDevice(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  auto fields = Fields(request.body);
  if (!FormAccepted(visit, request, response, fields["csrf"])) return;
  int64_t deviceId = 0;
  std::string number = request.matches.size() > 1 ? request.matches[1].str() : std::string{};
  auto parsed = std::from_chars(number.data(), number.data() + number.size(), deviceId);
  // Another user's device is "not found", as every other id of theirs.
  if (parsed.ec != std::errc{} || !store_.RevokeDevice(visit.user->id, deviceId)) {
    return Show(visit, response, 404, "404",
                "<p class=\"error\">" + EscapeHtml(Words(visit.language, "Not found.")) + "</p><p><a href=\"/settings\">" +
                    EscapeHtml(Words(visit.language, "Settings")) + "</a></p>");
  }
  response.status = 303;
  response.set_header("Location", "/settings#devices");
  response.set_content("", "text/plain");
}

std::string WebPages::DevicesSection(const Visit& visit, const httplib::Request& request) const {
  Language l = visit.language;
  // The address as this browser reached the page; a proxy on this machine may say how it was
  // reached (a proxy elsewhere could say anything, so --public-address is for that).
  std::string address = publicAddress_;
  if (address.empty()) {
    std::string scheme = "http";
    std::string host = request.get_header_value("Host");
    if (IsLoopbackPeer(request.remote_addr)) {
      if (request.get_header_value("X-Forwarded-Proto") == "https") scheme = "https";
      std::string forwarded = request.get_header_value("X-Forwarded-Host");
      forwarded = forwarded.substr(0, forwarded.find(','));
      while (forwarded.ends_with(' ')) forwarded.pop_back();
      if (!forwarded.empty()) host = forwarded;
    }
    if (host.empty()) host = request.local_addr + ":" + std::to_string(request.local_port);
    address = scheme + "://" + host + "/";
  }
  std::string body = "<section id=\"address\"><h2>" + EscapeHtml(Words(l, "Address of this service")) +
                     "</h2><p class=\"copyable\"><code id=\"service-address\">" + EscapeHtml(address) +
                     "</code> <button type=\"button\" class=\"copy\" data-copy=\"service-address\" data-copied=\"" +
                     EscapeHtml(Words(l, "Copied")) + "\">" + EscapeHtml(Words(l, "Copy")) + "</button></p><p class=\"hint\">" +
                     EscapeHtml(Words(l, "Enter it in torvo-connect or in the options of the Torvo toolbar.")) +
                     "</p></section>";

  body += "<section id=\"devices\"><h2>" + EscapeHtml(Words(l, "Devices")) + "</h2><p class=\"hint\">" +
          EscapeHtml(Words(l, "Each program or toolbar that signed in with your name and password has a ToolbarID of "
                              "its own. Revoking one signs that device out alone.")) +
          "</p>";
  std::vector<Device> devices = store_.Devices(visit.user->id);
  if (devices.empty()) {
    body += "<p class=\"empty\">" + EscapeHtml(Words(l, "No device has signed in yet.")) + "</p>";
  } else {
    std::string csrf = "<input type=\"hidden\" name=\"csrf\" value=\"" + EscapeHtml(visit.session.csrf) + "\">";
    body += "<table class=\"devices\"><thead><tr><th>" + EscapeHtml(Words(l, "Device")) + "</th><th>" +
            EscapeHtml(Words(l, "Created")) + "</th><th>" + EscapeHtml(Words(l, "Last used")) +
            "</th><th></th></tr></thead><tbody>";
    for (const auto& device : devices) {
      std::string id = std::to_string(device.id);
      body += "<tr id=\"device-" + id + "\"><td class=\"device-name\">" + EscapeHtml(device.name) + "</td><td><time>" +
              LocalMinuteHtml(device.created) + "</time></td><td><time>" +
              (device.lastUsed > 0 ? LocalMinuteHtml(device.lastUsed) : EscapeHtml(Words(l, "never"))) +
              "</time></td><td><form method=\"post\" action=\"/settings/devices/" + id + "/revoke\">" + csrf +
              "<button class=\"danger\" type=\"submit\">" + EscapeHtml(Words(l, "Revoke")) + "</button></form></td></tr>";
    }
    body += "</tbody></table>";
  }
  return body + "</section>";
}

}  // namespace torvo::service
