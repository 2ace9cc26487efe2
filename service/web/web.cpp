#include "service/web/web.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>

#include "service/web/bookmarks.h"
#include "service/wire/connection.h"
#include "service/wire/cp949.h"
#include "service/store/search_text.h"
#include "service/wire/url.h"
#include "service/web/web_assets.h"
#include "service/web/web_request.h"
#include "service/web/zip.h"

namespace torvo::service {

namespace {

constexpr const char* kCookie = "torvo_session";
constexpr const char* kHtmlType = "text/html; charset=utf-8";

std::string CookieValue(const httplib::Request& request, std::string_view name) {
  std::string header = request.get_header_value("Cookie");
  std::string_view rest = header;
  while (!rest.empty()) {
    size_t semicolon = rest.find(';');
    std::string_view item = rest.substr(0, semicolon);
    rest = semicolon == std::string_view::npos ? std::string_view{} : rest.substr(semicolon + 1);
    while (item.starts_with(' ')) item.remove_prefix(1);
    if (item.starts_with(name) && item.size() > name.size() && item[name.size()] == '=') {
      return std::string(item.substr(name.size() + 1));
    }
  }
  return {};
}

// Text typed into a form: UTF-8 with line breaks as "\n" and no other control characters.
std::string CleanText(std::string_view text, bool multiLine) {
  std::string out;
  if (!IsValidUtf8(text)) return out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\r') continue;
    if (c == '\n' && multiLine) {
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

bool IsWebAddress(std::string_view url) {
  auto lower = [](std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
  };
  std::string start = lower(url.substr(0, 8));
  return start.starts_with("http://") || start.starts_with("https://");
}

std::optional<int64_t> PathNumber(const httplib::Request& request) {
  if (request.matches.size() < 2) return std::nullopt;
  auto value = ParseInt32(request.matches[1].str());
  if (!value) return std::nullopt;
  return *value;
}

// Pages the list links to keep the search, the folder and the page.
std::string ListAddress(const std::string& search, const std::optional<int32_t>& folder, int page) {
  std::string query;
  auto add = [&](const std::string& name, const std::string& value) {
    query += (query.empty() ? "?" : "&") + name + "=" + PercentEncodeSegment(value);
  };
  if (!search.empty()) add("q", search);
  if (folder) add("folder", std::to_string(*folder));
  if (page > 1) add("page", std::to_string(page));
  return "/" + query;
}

// A place to go back to after a form: a path of this site only.
std::string SafeReturn(const std::string& back) {
  if (back.starts_with("/") && !back.starts_with("//") && !back.starts_with("/\\") &&
      back.find_first_of("\r\n") == std::string::npos) {
    return back;
  }
  return "/";
}

void Redirect(httplib::Response& response, const std::string& to) {
  response.status = 303;
  response.set_header("Location", to);
  response.set_content("", "text/plain");
}

std::string Hidden(std::string_view name, std::string_view value) {
  return "<input type=\"hidden\" name=\"" + std::string(name) + "\" value=\"" + EscapeHtml(value) + "\">";
}

std::string Format(std::string_view pattern, long long number) {
  std::string text(pattern);
  size_t at = text.find("%d");
  if (at != std::string::npos) text.replace(at, 2, std::to_string(number));
  return text;
}

std::time_t ParseLocalTime(const std::string& uploaded) {
  std::tm parts{};
  if (std::sscanf(uploaded.c_str(), "%d-%d-%d %d:%d:%d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday, &parts.tm_hour,
                  &parts.tm_min, &parts.tm_sec) != 6) {
    return 0;
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  parts.tm_isdst = -1;
  return std::mktime(&parts);
}

// Names from elsewhere as a folder may hold them.
std::string FolderNameFrom(std::string name) {
  for (char& c : name) {
    if (c == '|' || c == '^' || static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  return name;
}

}  // namespace

WebPages::WebPages(Store& store, SignInThrottle::Clock clock)
    : store_(store), throttle_(std::move(clock), store.SharedSignInCounts()), album_(store) {}

void WebPages::Register(httplib::Server& server) {
  using Request = httplib::Request;
  using Response = httplib::Response;
  server.Get("/", [this](const Request& q, Response& r) { ListPage(q, r); });
  server.Get("/signin", [this](const Request& q, Response& r) { SignInPage(q, r); });
  server.Post("/signin", [this](const Request& q, Response& r) { SignIn(q, r); });
  server.Post("/signout", [this](const Request& q, Response& r) { SignOut(q, r); });
  server.Get("/settings", [this](const Request& q, Response& r) { SettingsPage(q, r); });
  server.Post("/settings/toolbar-id", [this](const Request& q, Response& r) { NewToolbarId(q, r); });
  server.Post("/settings/sharing", [this](const Request& q, Response& r) { ChangeSharing(q, r); });
  server.Post("/settings/feed-address", [this](const Request& q, Response& r) { NewFeedAddress(q, r); });
  album_.Register(server);
  RegisterDevices(server);
  server.Get(R"(/entries/(\d+)/edit)", [this](const Request& q, Response& r) { EditPage(q, r); });
  server.Post(R"(/entries/(\d+)/edit)", [this](const Request& q, Response& r) { EditEntry(q, r); });
  server.Post(R"(/entries/(\d+)/delete)", [this](const Request& q, Response& r) { DeleteEntry(q, r); });
  server.Get("/folders", [this](const Request& q, Response& r) { FoldersPage(q, r); });
  server.Post("/folders/add", [this](const Request& q, Response& r) { ChangeFolder(q, r, "add"); });
  server.Post(R"(/folders/(-?\d+)/rename)", [this](const Request& q, Response& r) { ChangeFolder(q, r, "rename"); });
  server.Post(R"(/folders/(-?\d+)/delete)", [this](const Request& q, Response& r) { ChangeFolder(q, r, "delete"); });
  server.Get(R"(/thumb/(\d+)\.png)", [this](const Request& q, Response& r) { Thumbnail(q, r); });
  server.Get("/export.html", [this](const Request& q, Response& r) { ExportHtml(q, r); });
  server.Get("/export.zip", [this](const Request& q, Response& r) { ExportZip(q, r); });
  server.Post("/import", [this](const Request& q, Response& r) { Import(q, r); });
  server.Get("/static/torvo.css", [](const Request&, Response& r) {
    r.set_header("Cache-Control", "max-age=3600");
    r.set_content(kStyleSheet, "text/css; charset=utf-8");
  });
  server.Get("/static/torvo.js", [](const Request&, Response& r) {
    r.set_header("Cache-Control", "max-age=3600");
    r.set_content(kScript, "text/javascript; charset=utf-8");
  });
}

WebPages::Visit WebPages::Begin(const httplib::Request& request, httplib::Response& response) {
  SecureHeaders(response);
  response.set_header("Cache-Control", "no-store");
  response.set_header("Vary", "Accept-Language, Cookie");
  Visit visit;
  visit.language = PreferredLanguage(request.get_header_value("Accept-Language"));
  visit.secure = request.get_header_value("X-Forwarded-Proto") == "https";
  visit.origin = std::string(visit.secure ? "https://" : "http://") + request.get_header_value("Host");
  visit.client = request.remote_addr;
  bool loopback = visit.client.starts_with("127.") || visit.client == "::1";
  std::string forwarded = request.get_header_value("X-Forwarded-For");
  if (loopback && !forwarded.empty()) {
    size_t comma = forwarded.rfind(',');
    visit.client = forwarded.substr(comma == std::string::npos ? 0 : comma + 1);
    while (visit.client.starts_with(' ')) visit.client.erase(0, 1);
  }
  std::string token = CookieValue(request, kCookie);
  if (!token.empty() && token.size() < 100) {
    visit.sessionHash = TokenHash(token);
    if (auto session = store_.FindSession(visit.sessionHash)) {
      visit.user = store_.FindUserById(session->userId);
      visit.session = *session;
    }
  }
  return visit;
}

bool WebPages::SignedIn(const Visit& visit, httplib::Response& response) {
  if (visit.user) return true;
  Redirect(response, "/signin");
  return false;
}

bool WebPages::FormAccepted(const Visit& visit, const httplib::Request& request, httplib::Response& response,
                            std::string_view csrf) {
  // A browser names the page a form was posted from; another site's page is refused before
  // anything else is looked at.
  std::string origin = request.get_header_value("Origin");
  std::string referer = request.get_header_value("Referer");
  bool sameOrigin = !origin.empty() ? origin == visit.origin
                                    : !referer.empty() && (referer == visit.origin || referer.starts_with(visit.origin + "/"));
  if (!sameOrigin) {
    Show(visit, response, 403, "403", "<p class=\"error\">" + EscapeHtml(Words(visit.language, "This form has expired. Go back, reload the page and try again.")) + "</p>");
    if (Connection* connection = Connection::Current()) connection->AddNote("refused: form from another origin");
    return false;
  }
  if (!visit.user) {
    Redirect(response, "/signin");
    return false;
  }
  if (!SameSecret(csrf, visit.session.csrf)) {
    Show(visit, response, 403, "403", "<p class=\"error\">" + EscapeHtml(Words(visit.language, "This form has expired. Go back, reload the page and try again.")) + "</p>");
    if (Connection* connection = Connection::Current()) connection->AddNote("refused: no form token");
    return false;
  }
  return true;
}

std::string WebPages::Layout(const Visit& visit, std::string_view title, const std::string& body) const {
  Language l = visit.language;
  std::string html = "<!DOCTYPE html>\n<html lang=\"";
  html += l == Language::Korean ? "ko" : "en";
  html += "\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
  html += "<meta name=\"color-scheme\" content=\"light dark\">";
  html += "<title>" + EscapeHtml(title) + " · Torvo</title>";
  html += "<link rel=\"stylesheet\" href=\"/static/torvo.css\"><script src=\"/static/torvo.js\" defer></script></head><body>";
  html += "<header><a class=\"brand\" href=\"/\">Torvo</a>";
  if (visit.user) {
    html += "<nav><a href=\"/\">" + EscapeHtml(Words(l, "Saved pages")) + "</a><a href=\"/folders\">" +
            EscapeHtml(Words(l, "Folders")) + "</a><a href=\"/settings\">" + EscapeHtml(Words(l, "Settings")) + "</a>";
    html += "<form method=\"post\" action=\"/signout\">" + Hidden("csrf", visit.session.csrf) +
            "<button class=\"link\" type=\"submit\">" + EscapeHtml(Words(l, "Sign out")) + "</button></form></nav>";
  }
  html += "</header><main>" + body + "</main></body></html>\n";
  return html;
}

void WebPages::Show(const Visit& visit, httplib::Response& response, int status, std::string_view title,
                    const std::string& body) const {
  response.status = status;
  response.set_content(Layout(visit, title, body), kHtmlType);
}

std::string WebPages::FolderName(const Visit&, int32_t number, const std::vector<Folder>& folders) const {
  if (number == 0) return "기본";
  for (const auto& folder : folders) {
    if (folder.number == number) return folder.name;
  }
  return std::to_string(number);
}

void WebPages::SignInPage(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  if (visit.user) return Redirect(response, "/");
  Language l = visit.language;
  std::string body = "<form class=\"signin\" method=\"post\" action=\"/signin\"><h1>" + EscapeHtml(Words(l, "Sign in")) +
                     "</h1><label>" + EscapeHtml(Words(l, "Name")) +
                     "<input name=\"name\" autocomplete=\"username\" required autofocus></label><label>" +
                     EscapeHtml(Words(l, "Password")) +
                     "<input name=\"password\" type=\"password\" autocomplete=\"current-password\" required></label>"
                     "<button type=\"submit\">" +
                     EscapeHtml(Words(l, "Sign in")) + "</button></form>";
  Show(visit, response, 200, Words(l, "Sign in"), body);
}

void WebPages::SignIn(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  Language l = visit.language;
  auto fields = FormFields(request.body);
  std::string name = Field(fields, "name");
  std::string password = Field(fields, "password");
  // The sign-in has no session yet: its token is the origin.
  std::string origin = request.get_header_value("Origin");
  if (!origin.empty() && origin != visit.origin) {
    if (Connection* connection = Connection::Current()) connection->AddNote("refused: form from another origin");
    return Show(visit, response, 403, "403", "<p class=\"error\">" + EscapeHtml(Words(l, "This form has expired. Go back, reload the page and try again.")) + "</p>");
  }
  auto form = [&](const std::string& message) {
    return "<form class=\"signin\" method=\"post\" action=\"/signin\"><h1>" + EscapeHtml(Words(l, "Sign in")) +
           "</h1><p class=\"error\" role=\"alert\">" + EscapeHtml(message) + "</p><label>" + EscapeHtml(Words(l, "Name")) +
           "<input name=\"name\" autocomplete=\"username\" required value=\"" + EscapeHtml(name) + "\"></label><label>" +
           EscapeHtml(Words(l, "Password")) +
           "<input name=\"password\" type=\"password\" autocomplete=\"current-password\" required autofocus></label>"
           "<button type=\"submit\">" +
           EscapeHtml(Words(l, "Sign in")) + "</button></form>";
  };
  int wait = throttle_.WaitSeconds(name, visit.client);
  if (wait > 0) {
    if (Connection* connection = Connection::Current()) connection->AddNote("sign-in slowed down");
    response.set_header("Retry-After", std::to_string(wait));
    return Show(visit, response, 429, Words(l, "Sign in"),
                form(Format(Words(l, "Too many failed sign-ins. Try again in %d seconds."), wait)));
  }
  auto user = name.empty() ? std::nullopt : store_.FindUserByName(name);
  std::string hash = user ? store_.PasswordHash(user->id) : std::string{};
  // Unknown names cost a hash too, so the time taken does not tell which names exist.
  static const std::string kNobody = HashPassword(RandomToken());
  bool good = VerifyPassword(hash.empty() ? kNobody : hash, password) && !hash.empty();
  if (!good) {
    throttle_.Failed(name, visit.client);
    if (Connection* connection = Connection::Current()) connection->AddNote("sign-in failed");
    return Show(visit, response, 401, Words(l, "Sign in"), form(std::string(Words(l, "Wrong name or password."))));
  }
  throttle_.Succeeded(name, visit.client);
  std::string token = RandomToken(32);
  store_.AddSession(TokenHash(token), user->id, RandomToken(24));
  std::string cookie = std::string(kCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Lax; Max-Age=2592000";
  if (visit.secure) cookie += "; Secure";
  response.set_header("Set-Cookie", cookie);
  Redirect(response, "/");
}

void WebPages::SignOut(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  auto fields = FormFields(request.body);
  if (!FormAccepted(visit, request, response, Field(fields, "csrf"))) return;
  store_.RemoveSession(visit.sessionHash);
  response.set_header("Set-Cookie", std::string(kCookie) + "=; Path=/; HttpOnly; SameSite=Lax; Max-Age=0");
  Redirect(response, "/signin");
}

void WebPages::ListPage(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  if (!SignedIn(visit, response)) return;
  Language l = visit.language;
  auto query = FormFields(RawQuery(request));
  std::string search = CleanText(Field(query, "q"), false);
  std::optional<int32_t> folder = ParseInt32(Field(query, "folder"));
  int page = ParseInt32(Field(query, "page")).value_or(1);
  if (page < 1 || page > 1000000) page = 1;

  EntryQuery entriesQuery;
  entriesQuery.userId = visit.user->id;
  entriesQuery.folder = folder;
  entriesQuery.search = search;
  entriesQuery.offset = (page - 1) * kPageSize;
  entriesQuery.limit = kPageSize + 1;
  std::vector<Image> entries = store_.Entries(entriesQuery);
  bool more = entries.size() > static_cast<size_t>(kPageSize);
  if (more) entries.pop_back();
  std::vector<Folder> folders = store_.Folders(visit.user->id);

  std::string body = "<form class=\"search\" role=\"search\" method=\"get\" action=\"/\">";
  body += "<input id=\"q\" name=\"q\" type=\"search\" value=\"" + EscapeHtml(search) + "\" placeholder=\"" +
          EscapeHtml(Words(l, "Search title, address and note")) + " ( / )\" aria-label=\"" +
          EscapeHtml(Words(l, "Search")) + "\">";
  if (folder) body += Hidden("folder", std::to_string(*folder));
  body += "<button type=\"submit\">" + EscapeHtml(Words(l, "Search")) + "</button></form>";

  body += "<nav class=\"folders\" aria-label=\"" + EscapeHtml(Words(l, "Folders")) + "\">";
  auto folderLink = [&](std::optional<int32_t> number, const std::string& name) {
    bool current = number == folder;
    body += "<a href=\"" + EscapeHtml(ListAddress(search, number, 1)) + "\"" +
            (current ? " class=\"current\" aria-current=\"page\"" : "") + ">" + EscapeHtml(name) + "</a>";
  };
  folderLink(std::nullopt, std::string(Words(l, "All folders")));
  folderLink(0, "기본");
  for (const auto& f : folders) folderLink(f.number, f.name);
  body += "</nav>";

  if (entries.empty()) {
    body += "<p class=\"empty\">" + EscapeHtml(Words(l, search.empty() ? "Nothing here yet." : "Nothing matches.")) + "</p>";
  }
  body += "<ol class=\"entries\">";
  for (const auto& entry : entries) {
    std::string id = std::to_string(entry.id);
    bool web = IsWebAddress(entry.url);
    std::string title = entry.title.empty() ? entry.url : entry.title;
    body += "<li class=\"entry\" id=\"e" + id + "\">";
    if (entry.HasPicture()) {
      body += "<img class=\"thumb\" src=\"/thumb/" + id + ".png\" alt=\"\" loading=\"lazy\">";
    } else {
      body += "<div class=\"thumb none\">" + EscapeHtml(Words(l, "No picture")) + "</div>";
    }
    body += "<div class=\"text\"><h2 class=\"title\">";
    // Only web addresses become links: a "javascript:" address from a hostile page stays text.
    if (web) {
      body += "<a href=\"" + EscapeHtml(entry.url) + "\" rel=\"noopener noreferrer nofollow\">" + EscapeHtml(title) + "</a>";
    } else {
      body += EscapeHtml(title);
    }
    body += "</h2><div class=\"address\">" + EscapeHtml(entry.url) + "</div>";
    if (!entry.note.empty()) body += "<p class=\"note\">" + EscapeHtml(entry.note) + "</p>";
    body += "<div class=\"meta\"><span class=\"folder\">" + EscapeHtml(FolderName(visit, entry.folder, folders)) +
            "</span><time>" + EscapeHtml(entry.uploaded.substr(0, 16)) + "</time>";
    if (!entry.isPublic) body += "<span class=\"private\">" + EscapeHtml(Words(l, "Private")) + "</span>";
    body += "<a class=\"edit\" href=\"/entries/" + id + "/edit\">" + EscapeHtml(Words(l, "Edit")) + "</a></div></div></li>";
  }
  body += "</ol>";
  if (page > 1 || more) {
    body += "<nav class=\"pages\">";
    if (page > 1) {
      body += "<a rel=\"prev\" href=\"" + EscapeHtml(ListAddress(search, folder, page - 1)) + "\">" +
              EscapeHtml(Words(l, "Previous")) + "</a>";
    }
    body += "<span>" + EscapeHtml(Words(l, "Page")) + " " + std::to_string(page) + "</span>";
    if (more) {
      body += "<a rel=\"next\" href=\"" + EscapeHtml(ListAddress(search, folder, page + 1)) + "\">" +
              EscapeHtml(Words(l, "Next")) + "</a>";
    }
    body += "</nav>";
  }
  Show(visit, response, 200, Words(l, "Saved pages"), body);
}

void WebPages::EditPage(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  if (!SignedIn(visit, response)) return;
  Language l = visit.language;
  auto id = PathNumber(request);
  auto entry = id ? store_.FindEntry(visit.user->id, *id) : std::nullopt;
  if (!entry) return Show(visit, response, 404, "404", "<p class=\"error\">" + EscapeHtml(Words(l, "Not found.")) + "</p>");
  std::string path = "/entries/" + std::to_string(entry->id);
  std::string body = "<h1>" + EscapeHtml(Words(l, "Edit entry")) + "</h1>";
  if (entry->HasPicture()) body += "<img class=\"thumb\" src=\"/thumb/" + std::to_string(entry->id) + ".png\" alt=\"\">";
  body += "<p class=\"address\">" + EscapeHtml(entry->url) + "</p>";
  body += "<form class=\"edit\" method=\"post\" action=\"" + path + "/edit\">" + Hidden("csrf", visit.session.csrf);
  body += "<label>" + EscapeHtml(Words(l, "Title")) + "<input name=\"title\" value=\"" + EscapeHtml(entry->title) + "\"></label>";
  body += "<label>" + EscapeHtml(Words(l, "Note")) + "<textarea name=\"note\" rows=\"5\">" + EscapeHtml(entry->note) +
          "</textarea></label>";
  body += "<label>" + EscapeHtml(Words(l, "Folder")) + "<select name=\"folder\">";
  auto option = [&](int32_t number, const std::string& name) {
    body += "<option value=\"" + std::to_string(number) + "\"" + (number == entry->folder ? " selected" : "") + ">" +
            EscapeHtml(name) + "</option>";
  };
  option(0, "기본");
  for (const auto& folder : store_.Folders(visit.user->id)) option(folder.number, folder.name);
  body += "</select></label>";
  body += "<label class=\"check\"><input type=\"checkbox\" name=\"private\" value=\"1\"" +
          std::string(entry->isPublic ? "" : " checked") + "> " + EscapeHtml(Words(l, "Private")) + "</label>";
  body += "<button type=\"submit\">" + EscapeHtml(Words(l, "Save")) + "</button></form>";
  body += "<form class=\"delete\" method=\"post\" action=\"" + path + "/delete\">" + Hidden("csrf", visit.session.csrf) +
          "<button class=\"danger\" type=\"submit\">" + EscapeHtml(Words(l, "Delete this entry and its picture")) +
          "</button></form>";
  body += "<p><a href=\"/\">" + EscapeHtml(Words(l, "Back to the list")) + "</a></p>";
  Show(visit, response, 200, Words(l, "Edit entry"), body);
}

void WebPages::EditEntry(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  auto fields = FormFields(request.body);
  if (!FormAccepted(visit, request, response, Field(fields, "csrf"))) return;
  Language l = visit.language;
  auto id = PathNumber(request);
  NewImage changed;
  changed.title = CleanText(Field(fields, "title"), false);
  changed.note = CleanText(Field(fields, "note"), true);
  changed.isPublic = Field(fields, "private").empty();
  changed.folder = ParseInt32(Field(fields, "folder")).value_or(0);
  bool updated = false;
  try {
    updated = id && store_.UpdateEntry(visit.user->id, *id, changed);
  } catch (const StoreError&) {
    return Show(visit, response, 400, "400", "<p class=\"error\">" + EscapeHtml(Words(l, "Not found.")) + "</p>");
  }
  if (!updated) return Show(visit, response, 404, "404", "<p class=\"error\">" + EscapeHtml(Words(l, "Not found.")) + "</p>");
  Redirect(response, "/#e" + std::to_string(*id));
}

void WebPages::DeleteEntry(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  auto fields = FormFields(request.body);
  if (!FormAccepted(visit, request, response, Field(fields, "csrf"))) return;
  auto id = PathNumber(request);
  if (!id || !store_.DeleteEntry(visit.user->id, *id)) {
    return Show(visit, response, 404, "404", "<p class=\"error\">" + EscapeHtml(Words(visit.language, "Not found.")) + "</p>");
  }
  Redirect(response, SafeReturn(Field(fields, "back")));
}

void WebPages::FoldersPage(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  if (!SignedIn(visit, response)) return;
  Language l = visit.language;
  std::string csrf = Hidden("csrf", visit.session.csrf);
  std::string body = "<h1>" + EscapeHtml(Words(l, "Folders")) + "</h1><ul class=\"folder-list\"><li><span>기본</span></li>";
  for (const auto& folder : store_.Folders(visit.user->id)) {
    std::string path = "/folders/" + std::to_string(folder.number);
    body += "<li><form method=\"post\" action=\"" + path + "/rename\">" + csrf + "<input name=\"name\" value=\"" +
            EscapeHtml(folder.name) + "\" aria-label=\"" + EscapeHtml(Words(l, "Name")) + "\" required><button type=\"submit\">" +
            EscapeHtml(Words(l, "Rename")) + "</button></form><form method=\"post\" action=\"" + path + "/delete\">" + csrf +
            "<button class=\"danger\" type=\"submit\" title=\"" + EscapeHtml(Words(l, "Its entries move to 기본.")) + "\">" +
            EscapeHtml(Words(l, "Delete")) + "</button></form></li>";
  }
  body += "</ul><form class=\"add-folder\" method=\"post\" action=\"/folders/add\">" + csrf +
          "<input name=\"name\" required aria-label=\"" + EscapeHtml(Words(l, "Name")) + "\"><button type=\"submit\">" +
          EscapeHtml(Words(l, "Add folder")) + "</button></form><p class=\"hint\">" +
          EscapeHtml(Words(l, "Its entries move to 기본.")) + "</p>";
  Show(visit, response, 200, Words(l, "Folders"), body);
}

void WebPages::ChangeFolder(const httplib::Request& request, httplib::Response& response, const std::string& action) {
  Visit visit = Begin(request, response);
  auto fields = FormFields(request.body);
  if (!FormAccepted(visit, request, response, Field(fields, "csrf"))) return;
  std::string name = CleanText(Field(fields, "name"), false);
  try {
    if (action == "add") {
      store_.AddFolder(visit.user->id, name);
    } else {
      auto number = PathNumber(request);
      if (!number) throw StoreError("no such folder");
      if (action == "rename") store_.RenameFolder(visit.user->id, static_cast<int32_t>(*number), name);
      else store_.RemoveFolder(visit.user->id, static_cast<int32_t>(*number));
    }
  } catch (const StoreError& error) {
    bool missing = std::string(error.what()) == "no such folder";
    return Show(visit, response, missing ? 404 : 400, missing ? "404" : "400",
                "<p class=\"error\">" + EscapeHtml(missing ? std::string(Words(visit.language, "Not found.")) : error.what()) +
                    "</p><p><a href=\"/folders\">" + EscapeHtml(Words(visit.language, "Folders")) + "</a></p>");
  }
  Redirect(response, "/folders");
}

void WebPages::SettingsPage(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  if (!SignedIn(visit, response)) return;
  Language l = visit.language;
  std::string csrf = Hidden("csrf", visit.session.csrf);
  std::string body = "<h1>" + EscapeHtml(Words(l, "Settings")) + "</h1><p>" + EscapeHtml(Words(l, "Signed in as")) + " <b>" +
                     EscapeHtml(visit.user->name) + "</b></p>";
  body += "<section><h2>" + EscapeHtml(Words(l, "ToolbarID")) + "</h2><p><code id=\"toolbar-id\">" +
          EscapeHtml(visit.user->identity) + "</code></p><p class=\"hint\">" +
          EscapeHtml(Words(l, "Paste it into the options of the Torvo toolbar.")) + "</p>";
  body += "<form method=\"post\" action=\"/settings/toolbar-id\">" + csrf + "<button type=\"submit\">" +
          EscapeHtml(Words(l, "Issue a new ToolbarID")) + "</button> <span class=\"hint\">" +
          EscapeHtml(Words(l, "The old one then signs the toolbar out.")) + "</span></form></section>";
  body += album_.SettingsSection(l, visit.user->id, visit.origin, csrf);
  body += DevicesSection(visit, request);
  body += "<section><h2>" + EscapeHtml(Words(l, "Export")) + "</h2><p><a href=\"/export.html\" download>" +
          EscapeHtml(Words(l, "Bookmarks (HTML)")) + "</a> · <a href=\"/export.zip\" download>" +
          EscapeHtml(Words(l, "Whole album (zip)")) + "</a></p></section>";
  body += "<section><h2>" + EscapeHtml(Words(l, "Import bookmarks")) +
          "</h2><form method=\"post\" action=\"/import\" enctype=\"multipart/form-data\">" + csrf +
          "<input type=\"file\" name=\"file\" accept=\".html,.htm,text/html\" required><button type=\"submit\">" +
          EscapeHtml(Words(l, "Import")) + "</button></form></section>";
  Show(visit, response, 200, Words(l, "Settings"), body);
}

void WebPages::NewToolbarId(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  auto fields = FormFields(request.body);
  if (!FormAccepted(visit, request, response, Field(fields, "csrf"))) return;
  store_.ReplaceToolbarId(visit.user->id, RandomToken());
  Redirect(response, "/settings");
}

void WebPages::ChangeSharing(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  auto fields = FormFields(request.body);
  if (!FormAccepted(visit, request, response, Field(fields, "csrf"))) return;
  try {
    store_.SetSharing(visit.user->id, !Field(fields, "shared").empty(), CleanText(Field(fields, "album"), false));
  } catch (const StoreError& error) {
    return Show(visit, response, 400, "400",
                "<p class=\"error\" role=\"alert\">" + EscapeHtml(error.what()) + "</p><p><a href=\"/settings#sharing\">" +
                    EscapeHtml(Words(visit.language, "Settings")) + "</a></p>");
  }
  Redirect(response, "/settings#sharing");
}

void WebPages::NewFeedAddress(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  auto fields = FormFields(request.body);
  if (!FormAccepted(visit, request, response, Field(fields, "csrf"))) return;
  store_.ReplaceFeedSecret(visit.user->id, RandomToken());
  Redirect(response, "/settings#sharing");
}

void WebPages::Thumbnail(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  auto id = PathNumber(request);
  // Anyone else (signed out, or another user) learns nothing, not even whether the entry exists.
  auto entry = visit.user && id ? store_.FindEntry(visit.user->id, *id) : std::nullopt;
  std::string bytes;
  if (entry && entry->HasPicture()) bytes = store_.Picture(*entry).value_or(std::string{});
  if (bytes.empty()) {
    response.status = 404;
    response.set_content("not found\n", "text/plain");
    return;
  }
  response.set_header("Cache-Control", "private, max-age=86400");
  response.set_content(std::move(bytes), "image/png");
}

namespace {

// Every entry of a user with its folder's name, oldest first, as the export writes them.
std::vector<std::pair<Bookmark, Image>> AllEntries(Store& store, int64_t userId) {
  std::vector<Folder> folders = store.Folders(userId);
  std::vector<std::pair<Bookmark, Image>> out;
  for (int offset = 0;; offset += 1000) {
    EntryQuery query;
    query.userId = userId;
    query.offset = offset;
    query.limit = 1000;
    auto page = store.Entries(query);
    for (auto& entry : page) {
      Bookmark bookmark;
      for (const auto& folder : folders) {
        if (folder.number == entry.folder) bookmark.folder = folder.name;
      }
      bookmark.url = entry.url;
      bookmark.title = entry.title;
      bookmark.note = entry.note;
      bookmark.added = ParseLocalTime(entry.uploaded);
      bookmark.isPrivate = !entry.isPublic;
      out.emplace_back(std::move(bookmark), std::move(entry));
    }
    if (page.size() < 1000) break;
  }
  std::reverse(out.begin(), out.end());
  return out;
}

}  // namespace

void WebPages::ExportHtml(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  if (!SignedIn(visit, response)) return;
  std::vector<Bookmark> bookmarks;
  for (auto& [bookmark, entry] : AllEntries(store_, visit.user->id)) bookmarks.push_back(std::move(bookmark));
  response.set_header("Content-Disposition", "attachment; filename=\"torvo-bookmarks.html\"");
  response.set_content(WriteBookmarks(bookmarks), kHtmlType);
}

void WebPages::ExportZip(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  if (!SignedIn(visit, response)) return;
  auto all = std::make_shared<std::vector<std::pair<Bookmark, Image>>>(AllEntries(store_, visit.user->id));
  response.set_header("Content-Disposition", "attachment; filename=\"torvo-album.zip\"");
  Store& store = store_;
  // Written as it is sent, one picture at a time.
  response.set_chunked_content_provider("application/zip", [all, &store](size_t, httplib::DataSink& sink) {
    ZipWriter zip([&sink](std::string_view bytes) { return sink.write(bytes.data(), bytes.size()); });
    std::vector<Bookmark> bookmarks;
    for (const auto& [bookmark, entry] : *all) bookmarks.push_back(bookmark);
    bool ok = zip.Add("bookmarks.html", WriteBookmarks(bookmarks), std::time(nullptr));
    for (size_t i = 0; ok && i < all->size(); ++i) {
      const Image& entry = (*all)[i].second;
      if (!entry.HasPicture()) continue;
      auto picture = store.Picture(entry);
      if (!picture) continue;
      const std::string& bytes = *picture;
      // The pictures keep the names the image list gives them; odd names become their row's.
      std::string name = entry.name;
      if (name.find_first_of("/\\") != std::string::npos || name.starts_with(".")) name = "entry-" + std::to_string(entry.id);
      ok = zip.Add("thumbnails/" + name + ".png", bytes, (*all)[i].first.added);
    }
    if (ok && zip.Finish()) sink.done();
    return ok;
  });
}

void WebPages::Import(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  std::string csrf = request.has_file("csrf") ? request.get_file_value("csrf").content : std::string{};
  if (!FormAccepted(visit, request, response, csrf)) return;
  Language l = visit.language;
  std::string html = request.has_file("file") ? request.get_file_value("file").content : std::string{};
  // Files written by Korean software may be in code page 949 rather than UTF-8.
  if (!IsValidUtf8(html)) html = Cp949ToUtf8(html);
  std::vector<Bookmark> bookmarks = ReadBookmarks(html);
  std::map<std::string, int32_t> folderNumbers;
  for (const auto& folder : store_.Folders(visit.user->id)) folderNumbers.emplace(folder.name, folder.number);
  folderNumbers["기본"] = 0;
  int imported = 0, known = 0;
  std::time_t now = std::time(nullptr);
  for (const auto& bookmark : bookmarks) {
    NewImage fields;
    fields.url = CleanText(bookmark.url, false);
    fields.title = CleanText(bookmark.title, false);
    fields.note = CleanText(bookmark.note, true);
    fields.isPublic = !bookmark.isPrivate;
    std::string folder = FolderNameFrom(CleanText(bookmark.folder, false));
    if (!folder.empty()) {
      auto found = folderNumbers.find(folder);
      if (found == folderNumbers.end()) {
        try {
          found = folderNumbers.emplace(folder, store_.AddFolder(visit.user->id, folder).number).first;
        } catch (const StoreError&) {
          found = folderNumbers.emplace(folder, 0).first;  // a name the exchanges cannot carry
        }
      }
      fields.folder = found->second;
    }
    // The same file brought in twice does not double the album.
    if (store_.HasEntry(visit.user->id, fields)) {
      ++known;
      continue;
    }
    store_.AddEntry(visit.user->id, fields, bookmark.added > 0 ? bookmark.added : now);
    ++imported;
  }
  std::string done = Format(Words(l, "Imported %d entries."), imported);
  if (known > 0) done += " " + Format(Words(l, "%d were there already."), known);
  Show(visit, response, 200, Words(l, "Import"),
       "<p class=\"done\">" + EscapeHtml(done) + "</p><p><a href=\"/\">" + EscapeHtml(Words(l, "Back to the list")) +
           "</a></p>");
}

}  // namespace torvo::service
