#pragma once
// What the user's own page and the public album read from a browser's request and set on every
// answer alike: the raw query, its fields as browsers encode them, and the security headers.
#include <httplib.h>

#include <map>
#include <string>
#include <string_view>

namespace torvo::service {

// Scripts and pictures come from our own site only; no page may frame ours (clickjacking).
void SecureHeaders(httplib::Response& response);

// The query as the browser sent it: the connection keeps the raw target (the library sees the
// request line without its query).
std::string RawQuery(const httplib::Request& request);

// Fields of a query or of a form body as browsers encode them ("+" is a space); the first of a
// name counts.
std::map<std::string, std::string> FormFields(std::string_view text);

// The field's value; empty when absent.
std::string Field(const std::map<std::string, std::string>& fields, const std::string& name);

}  // namespace torvo::service
