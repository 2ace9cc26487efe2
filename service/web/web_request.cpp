#include "service/web/web_request.h"

#include "service/wire/connection.h"
#include "service/wire/url.h"

namespace torvo::service {

void SecureHeaders(httplib::Response& response) {
  response.set_header("Content-Security-Policy",
                      "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
                      "form-action 'self'; frame-ancestors 'none'; base-uri 'none'");
  response.set_header("X-Content-Type-Options", "nosniff");
  response.set_header("X-Frame-Options", "DENY");
  response.set_header("Referrer-Policy", "same-origin");
}

std::string RawQuery(const httplib::Request& request) {
  if (Connection* connection = Connection::Current()) return std::string(SplitTarget(connection->RawTarget()).query);
  return std::string(SplitTarget(request.target).query);
}

std::map<std::string, std::string> FormFields(std::string_view text) {
  std::map<std::string, std::string> fields;
  for (auto& [name, value] : ParseQuery(text, PlusMeans::kSpace)) {
    if (!name.empty()) fields.emplace(std::move(name), std::move(value));
  }
  return fields;
}

std::string Field(const std::map<std::string, std::string>& fields, const std::string& name) {
  auto found = fields.find(name);
  return found == fields.end() ? std::string{} : found->second;
}

}  // namespace torvo::service
