#include "service/web/album.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "service/store/accounts.h"
#include "service/wire/connection.h"
#include "service/store/search_text.h"
#include "service/wire/url.h"
#include "service/web/web_request.h"

namespace torvo::service {

namespace {

constexpr const char* kHtmlType = "text/html; charset=utf-8";
constexpr const char* kAtomType = "application/atom+xml; charset=utf-8";

// Nothing public may be kept by any cache: an entry made private must be gone at the next request.
constexpr const char* kNoStore = "no-store";

// A search typed into the form: one line of UTF-8.
std::string CleanSearch(std::string_view text) {
  if (!IsValidUtf8(text)) return {};
  std::string out;
  for (char c : text) out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
  return out;
}

// The user's public entries the address asks for, in the list and in its feed alike: a search
// and a folder.
EntryQuery Selection(int64_t userId, const std::map<std::string, std::string>& fields) {
  EntryQuery query;
  query.userId = userId;
  query.folder = ParseInt32(Field(fields, "folder"));
  query.search = CleanSearch(Field(fields, "q"));
  return query;
}

bool IsWebAddress(std::string_view url) {
  std::string start(url.substr(0, 8));
  for (char& c : start) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return start.starts_with("http://") || start.starts_with("https://");
}

int PageNumber(const std::map<std::string, std::string>& fields) {
  int page = ParseInt32(Field(fields, "page")).value_or(1);
  return page < 1 || page > 1000000 ? 1 : page;
}

std::string FolderName(int32_t number, const std::vector<Folder>& folders) {
  if (number == 0) return "기본";
  for (const auto& folder : folders) {
    if (folder.number == number) return folder.name;
  }
  return std::to_string(number);
}

// "q", "folder" and "page" after a path, as the pages link to each other.
std::string WithQuery(const std::string& path, const std::string& search, const std::optional<int32_t>& folder,
                      int page = 1) {
  std::string query;
  auto add = [&](const std::string& name, const std::string& value) {
    query += (query.empty() ? "?" : "&") + name + "=" + PercentEncodeSegment(value);
  };
  if (!search.empty()) add("q", search);
  if (folder) add("folder", std::to_string(*folder));
  if (page > 1) add("page", std::to_string(page));
  return path + query;
}

void SendHtml(httplib::Response& response, int status, std::string html) {
  response.status = status;
  response.set_content(std::move(html), kHtmlType);
}

// What a page's head says beyond its title: link previews and feed readers read it.
struct Head {
  std::string title;
  std::string extra;
};

}  // namespace

struct AlbumPages::Visit {
  Language language = Language::English;
  std::string origin;  // as the visitor reached us, for absolute addresses
  int64_t userId = 0;
  std::string album;   // the album's name
  std::string path;    // "/u/<album escaped>"
};

std::string EscapeXml(std::string_view text) {
  // XML 1.0 admits no control character but tab and line ends: those go, the rest as in HTML.
  std::string kept;
  kept.reserve(text.size());
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
    kept += c;
  }
  return EscapeHtml(kept);
}

std::string AtomTime(const std::string& uploaded) {
  std::tm parts{};
  if (std::sscanf(uploaded.c_str(), "%d-%d-%d %d:%d:%d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday, &parts.tm_hour,
                  &parts.tm_min, &parts.tm_sec) != 6) {
    return "1970-01-01T00:00:00Z";
  }
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  parts.tm_isdst = -1;
  std::time_t time = std::mktime(&parts);
  std::tm utc{};
  gmtime_r(&time, &utc);
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return buffer;
}

AlbumPages::AlbumPages(Store& store) : store_(store) {}

void AlbumPages::Register(httplib::Server& server) {
  using Request = httplib::Request;
  using Response = httplib::Response;
  server.Get(R"(/u/([^/]+)/?)", [this](const Request& q, Response& r) { ListPage(q, r); });
  server.Get(R"(/u/([^/]+)/wall)", [this](const Request& q, Response& r) { WallPage(q, r); });
  server.Get(R"(/u/([^/]+)/e/(\d{1,18}))", [this](const Request& q, Response& r) { EntryPage(q, r); });
  server.Get(R"(/u/([^/]+)/thumb/(\d{1,18})\.png)", [this](const Request& q, Response& r) { Thumbnail(q, r); });
  server.Get(R"(/u/([^/]+)/feed\.atom)", [this](const Request& q, Response& r) { PublicFeed(q, r); });
  server.Get(R"(/feed/([A-Za-z0-9_-]{16,100})\.atom)", [this](const Request& q, Response& r) { PrivateFeed(q, r); });
  server.Get(R"(/feed/([A-Za-z0-9_-]{16,100})/thumb/(\d{1,18})\.png)",
             [this](const Request& q, Response& r) { PrivateThumbnail(q, r); });
  // Any other address under these answers as an album that is not there.
  server.Get(R"(/(u|feed)(/.*)?)", [this](const Request& q, Response& r) { NotFound(Begin(q, r), r); });
}

AlbumPages::Visit AlbumPages::Begin(const httplib::Request& request, httplib::Response& response) const {
  SecureHeaders(response);
  response.set_header("Cache-Control", kNoStore);
  response.set_header("Vary", "Accept-Language");
  Visit visit;
  visit.language = PreferredLanguage(request.get_header_value("Accept-Language"));
  if (!publicAddress_.empty()) {
    visit.origin = publicAddress_;
    while (visit.origin.ends_with('/')) visit.origin.pop_back();
    return visit;
  }
  // A proxy on this machine may say how it was reached; anyone else's word is not taken.
  const std::string& peer = request.remote_addr;
  bool loopback = peer.starts_with("127.") || peer == "::1" || peer.starts_with("::ffff:127.");
  bool secure = loopback && request.get_header_value("X-Forwarded-Proto") == "https";
  std::string host = request.get_header_value("Host");
  std::string forwarded = loopback ? request.get_header_value("X-Forwarded-Host") : std::string{};
  forwarded = forwarded.substr(0, forwarded.find(','));
  while (forwarded.ends_with(' ')) forwarded.pop_back();
  if (!forwarded.empty()) host = forwarded;
  // A host header is copied into addresses: keep only what a host and port may hold.
  if (host.empty() || host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:[]") !=
                          std::string::npos) {
    host = request.local_addr + ":" + std::to_string(request.local_port);
  }
  visit.origin = std::string(secure ? "https://" : "http://") + host;
  return visit;
}

bool AlbumPages::FindAlbum(const httplib::Request& request, httplib::Response& response, Visit& visit) {
  visit = Begin(request, response);
  std::string album = request.matches.size() > 1 ? request.matches[1].str() : std::string{};
  // Album names hold no "%": one here is an escape the router left.
  if (album.find('%') != std::string::npos) album = PercentDecode(album);
  auto owner = album.empty() ? std::nullopt : store_.SharedAlbum(album);
  if (!owner) {
    NotFound(visit, response);
    return false;
  }
  visit.userId = *owner;
  visit.album = album;
  visit.path = "/u/" + PercentEncodeSegment(album);
  return true;
}

void AlbumPages::NotFound(const Visit& visit, httplib::Response& response) const {
  // One answer for every address that shows nothing: which names exist stays unknown.
  Language l = visit.language;
  std::string html = "<!DOCTYPE html>\n<html lang=\"";
  html += l == Language::Korean ? "ko" : "en";
  html += "\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
          "<meta name=\"color-scheme\" content=\"light dark\"><meta name=\"robots\" content=\"noindex\"><title>404 · Torvo</title>"
          "<link rel=\"stylesheet\" href=\"/static/torvo.css\"></head><body><header><span class=\"brand\">Torvo</span></header>"
          "<main><h1>404</h1><p class=\"error\">";
  html += EscapeHtml(Words(l, "Not found.")) + "</p></main></body></html>\n";
  SendHtml(response, 404, std::move(html));
}

namespace {

std::string Page(Language l, const std::string& albumPath, const std::string& album, const Head& head,
                 const std::string& current, const std::string& body) {
  std::string html = "<!DOCTYPE html>\n<html lang=\"";
  html += l == Language::Korean ? "ko" : "en";
  html += "\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
  html += "<meta name=\"color-scheme\" content=\"light dark\">";
  html += "<title>" + EscapeHtml(head.title) + "</title>" + head.extra;
  html += "<link rel=\"stylesheet\" href=\"/static/torvo.css\"><script src=\"/static/torvo.js\" defer></script></head>";
  html += "<body class=\"album\"><header><a class=\"brand\" href=\"" + EscapeHtml(albumPath + "/") + "\">" +
          EscapeHtml(album) + "</a><nav>";
  auto link = [&](const std::string& name, const std::string& href, const char* english) {
    html += "<a href=\"" + EscapeHtml(href) + "\"" + (current == name ? " aria-current=\"page\"" : "") + ">" +
            EscapeHtml(Words(l, english)) + "</a>";
  };
  link("list", albumPath + "/", "List");
  link("wall", albumPath + "/wall", "Picture wall");
  link("feed", albumPath + "/feed.atom", "Feed");
  html += "</nav></header><main>" + body + "</main></body></html>\n";
  return html;
}

std::string FeedLink(const std::string& href, const std::string& title) {
  return "<link rel=\"alternate\" type=\"application/atom+xml\" title=\"" + EscapeHtml(title) + "\" href=\"" +
         EscapeHtml(href) + "\">";
}

std::string Pages(Language l, const std::string& path, const std::string& search, const std::optional<int32_t>& folder,
                  int page, bool more) {
  if (page <= 1 && !more) return {};
  std::string html = "<nav class=\"pages\">";
  if (page > 1) {
    html += "<a rel=\"prev\" href=\"" + EscapeHtml(WithQuery(path, search, folder, page - 1)) + "\">" +
            EscapeHtml(Words(l, "Previous")) + "</a>";
  }
  html += "<span>" + EscapeHtml(Words(l, "Page")) + " " + std::to_string(page) + "</span>";
  if (more) {
    html += "<a rel=\"next\" href=\"" + EscapeHtml(WithQuery(path, search, folder, page + 1)) + "\">" +
            EscapeHtml(Words(l, "Next")) + "</a>";
  }
  return html + "</nav>";
}

std::string AlbumTitle(Language l, const std::string& album) {
  std::string pattern(Words(l, "%s's album"));
  pattern.replace(pattern.find("%s"), 2, album);
  return pattern;
}

}  // namespace

void AlbumPages::ListPage(const httplib::Request& request, httplib::Response& response) {
  Visit visit;
  if (!FindAlbum(request, response, visit)) return;
  Language l = visit.language;
  auto fields = FormFields(RawQuery(request));
  EntryQuery query = Selection(visit.userId, fields);
  const std::string& search = query.search;
  const std::optional<int32_t>& folder = query.folder;
  int page = PageNumber(fields);
  query.offset = (page - 1) * kListSize;
  query.limit = kListSize + 1;
  std::vector<Image> entries = store_.PublicEntries(query);
  bool more = entries.size() > static_cast<size_t>(kListSize);
  if (more) entries.pop_back();
  std::vector<Folder> folders = store_.Folders(visit.userId);
  std::vector<int32_t> shown = store_.PublicFolders(visit.userId);
  std::string list = visit.path + "/";

  std::string body = "<h1>" + EscapeHtml(AlbumTitle(l, visit.album)) + "</h1>";
  body += "<form class=\"search\" role=\"search\" method=\"get\" action=\"" + EscapeHtml(list) + "\">";
  body += "<input id=\"q\" name=\"q\" type=\"search\" value=\"" + EscapeHtml(search) + "\" placeholder=\"" +
          EscapeHtml(Words(l, "Search title, address and note")) + " ( / )\" aria-label=\"" +
          EscapeHtml(Words(l, "Search")) + "\">";
  if (folder) body += "<input type=\"hidden\" name=\"folder\" value=\"" + std::to_string(*folder) + "\">";
  body += "<button type=\"submit\">" + EscapeHtml(Words(l, "Search")) + "</button></form>";
  body += "<nav class=\"folders\" aria-label=\"" + EscapeHtml(Words(l, "Folders")) + "\">";
  auto folderLink = [&](std::optional<int32_t> number, const std::string& name) {
    bool current = number == folder;
    body += "<a href=\"" + EscapeHtml(WithQuery(list, search, number)) + "\"" +
            (current ? " class=\"current\" aria-current=\"page\"" : "") + ">" + EscapeHtml(name) + "</a>";
  };
  folderLink(std::nullopt, std::string(Words(l, "All folders")));
  for (int32_t number : shown) folderLink(number, FolderName(number, folders));
  body += "</nav>";

  if (entries.empty()) {
    body += "<p class=\"empty\">" + EscapeHtml(Words(l, search.empty() ? "Nothing here yet." : "Nothing matches.")) + "</p>";
  }
  body += "<ol class=\"entries\">";
  for (const auto& entry : entries) {
    std::string id = std::to_string(entry.id);
    std::string page = visit.path + "/e/" + id;
    std::string title = entry.title.empty() ? entry.url : entry.title;
    body += "<li class=\"entry\" id=\"e" + id + "\">";
    if (entry.HasPicture()) {
      body += "<a class=\"thumb-link\" href=\"" + EscapeHtml(page) + "\"><img class=\"thumb\" src=\"" +
              EscapeHtml(visit.path + "/thumb/" + id + ".png") + "\" alt=\"\" loading=\"lazy\"></a>";
    } else {
      body += "<div class=\"thumb none\">" + EscapeHtml(Words(l, "No picture")) + "</div>";
    }
    body += "<div class=\"text\"><h2 class=\"title\"><a href=\"" + EscapeHtml(page) + "\">" + EscapeHtml(title) + "</a></h2>";
    // Only web addresses become links: a "javascript:" address from a hostile page stays text.
    if (IsWebAddress(entry.url)) {
      body += "<a class=\"address\" href=\"" + EscapeHtml(entry.url) + "\" rel=\"noopener noreferrer nofollow\">" +
              EscapeHtml(entry.url) + "</a>";
    } else {
      body += "<div class=\"address\">" + EscapeHtml(entry.url) + "</div>";
    }
    if (!entry.note.empty()) body += "<p class=\"note\">" + EscapeHtml(entry.note) + "</p>";
    body += "<div class=\"meta\"><span class=\"folder\">" + EscapeHtml(FolderName(entry.folder, folders)) + "</span><time>" +
            EscapeHtml(entry.uploaded.substr(0, 16)) + "</time></div></div></li>";
  }
  body += "</ol>" + Pages(l, list, search, folder, page, more);

  Head head;
  head.title = AlbumTitle(l, visit.album) + " · Torvo";
  std::string feed = WithQuery(visit.origin + visit.path + "/feed.atom", search, folder);
  head.extra = FeedLink(feed, AlbumTitle(l, visit.album)) + "<meta property=\"og:type\" content=\"website\">" +
               "<meta property=\"og:title\" content=\"" + EscapeHtml(AlbumTitle(l, visit.album)) + "\">" +
               "<meta property=\"og:url\" content=\"" + EscapeHtml(visit.origin + list) + "\">";
  SendHtml(response, 200, Page(l, visit.path, visit.album, head, "list", body));
}

void AlbumPages::WallPage(const httplib::Request& request, httplib::Response& response) {
  Visit visit;
  if (!FindAlbum(request, response, visit)) return;
  Language l = visit.language;
  auto fields = FormFields(RawQuery(request));
  int page = PageNumber(fields);
  EntryQuery query;
  query.userId = visit.userId;
  query.offset = (page - 1) * kWallSize;
  query.limit = kWallSize + 1;
  std::vector<Image> entries = store_.PublicEntries(query, true);
  bool more = entries.size() > static_cast<size_t>(kWallSize);
  if (more) entries.pop_back();

  std::string body = "<h1>" + EscapeHtml(Words(l, "Picture wall")) + "</h1>";
  if (entries.empty()) body += "<p class=\"empty\">" + EscapeHtml(Words(l, "Nothing here yet.")) + "</p>";
  body += "<ul class=\"wall\">";
  for (const auto& entry : entries) {
    std::string id = std::to_string(entry.id);
    std::string title = entry.title.empty() ? entry.url : entry.title;
    body += "<li><a href=\"" + EscapeHtml(visit.path + "/e/" + id) + "\" title=\"" + EscapeHtml(title) + "\"><img src=\"" +
            EscapeHtml(visit.path + "/thumb/" + id + ".png") + "\" alt=\"" + EscapeHtml(title) + "\" loading=\"lazy\"></a></li>";
  }
  body += "</ul>" + Pages(l, visit.path + "/wall", {}, std::nullopt, page, more);
  Head head;
  head.title = std::string(Words(l, "Picture wall")) + " · " + AlbumTitle(l, visit.album);
  head.extra = FeedLink(visit.origin + visit.path + "/feed.atom", AlbumTitle(l, visit.album));
  SendHtml(response, 200, Page(l, visit.path, visit.album, head, "wall", body));
}

void AlbumPages::EntryPage(const httplib::Request& request, httplib::Response& response) {
  Visit visit;
  if (!FindAlbum(request, response, visit)) return;
  Language l = visit.language;
  auto id = request.matches.size() > 2 ? std::optional<int64_t>(std::stoll(request.matches[2].str())) : std::nullopt;
  auto entry = id ? store_.FindPublicEntry(visit.userId, *id) : std::nullopt;
  if (!entry) return NotFound(visit, response);
  std::vector<Folder> folders = store_.Folders(visit.userId);
  std::string number = std::to_string(entry->id);
  std::string thumb = visit.path + "/thumb/" + number + ".png";
  std::string title = entry->title.empty() ? entry->url : entry->title;

  std::string body = "<article class=\"entry-page\"><h1 class=\"title\">" + EscapeHtml(title) + "</h1>";
  if (IsWebAddress(entry->url)) {
    body += "<p><a class=\"address\" href=\"" + EscapeHtml(entry->url) + "\" rel=\"noopener noreferrer nofollow\">" +
            EscapeHtml(entry->url) + "</a></p>";
  } else {
    body += "<p class=\"address\">" + EscapeHtml(entry->url) + "</p>";
  }
  if (!entry->note.empty()) body += "<p class=\"note\">" + EscapeHtml(entry->note) + "</p>";
  body += "<div class=\"meta\"><a class=\"folder\" href=\"" +
          EscapeHtml(WithQuery(visit.path + "/", {}, entry->folder)) + "\">" +
          EscapeHtml(FolderName(entry->folder, folders)) + "</a><time datetime=\"" + AtomTime(entry->uploaded) + "\">" +
          EscapeHtml(entry->uploaded.substr(0, 16)) + "</time></div>";
  if (entry->HasPicture()) body += "<img class=\"picture\" src=\"" + EscapeHtml(thumb) + "\" alt=\"\">";
  body += "<p><a href=\"" + EscapeHtml(visit.path + "/") + "\">" + EscapeHtml(Words(l, "Back to the list")) + "</a></p></article>";

  // What a chat program or a post shows for a pasted link: absolute addresses throughout.
  Head head;
  head.title = title + " · " + visit.album;
  auto meta = [&](const char* attribute, const char* name, const std::string& content) {
    head.extra += std::string("<meta ") + attribute + "=\"" + name + "\" content=\"" + EscapeHtml(content) + "\">";
  };
  std::string description = entry->note.empty() ? entry->url : entry->note;
  meta("property", "og:type", "article");
  meta("property", "og:site_name", AlbumTitle(l, visit.album));
  meta("property", "og:title", title);
  meta("property", "og:description", description);
  meta("property", "og:url", visit.origin + visit.path + "/e/" + number);
  meta("name", "twitter:title", title);
  meta("name", "twitter:description", description);
  if (entry->HasPicture()) {
    meta("property", "og:image", visit.origin + thumb);
    meta("property", "og:image:type", "image/png");
    meta("name", "twitter:card", "summary_large_image");
    meta("name", "twitter:image", visit.origin + thumb);
  } else {
    meta("name", "twitter:card", "summary");
  }
  head.extra += FeedLink(visit.origin + visit.path + "/feed.atom", AlbumTitle(l, visit.album));
  head.extra += "<link rel=\"canonical\" href=\"" + EscapeHtml(visit.origin + visit.path + "/e/" + number) + "\">";
  SendHtml(response, 200, Page(l, visit.path, visit.album, head, "", body));
}

namespace {

// The picture of an entry, or nothing when it has none or its file is gone.
std::string PictureBytes(Store& store, const std::optional<Image>& entry) {
  if (!entry || !entry->HasPicture()) return {};
  return store.Picture(*entry).value_or(std::string{});
}

}  // namespace

void AlbumPages::Thumbnail(const httplib::Request& request, httplib::Response& response) {
  Visit visit;
  if (!FindAlbum(request, response, visit)) return;
  int64_t id = std::stoll(request.matches[2].str());
  std::string bytes = PictureBytes(store_, store_.FindPublicEntry(visit.userId, id));
  if (bytes.empty()) return NotFound(visit, response);
  response.set_content(std::move(bytes), "image/png");
}

namespace {

// One Atom document; thumb names where an entry's picture is, page its own page (may be empty).
std::string AtomFeed(const std::string& id, const std::string& title, const std::string& self, const std::string& alternate,
                     const std::string& author, const std::vector<Image>& entries, const std::vector<Folder>& folders,
                     const std::function<std::string(const Image&)>& thumb,
                     const std::function<std::string(const Image&)>& page) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">\n";
  xml += "<id>" + EscapeXml(id) + "</id>\n<title type=\"text\">" + EscapeXml(title) + "</title>\n";
  std::string updated = entries.empty() ? AtomTime("1970-01-01 00:00:00") : AtomTime(entries.front().uploaded);
  if (!entries.empty()) {
    for (const auto& entry : entries) updated = std::max(updated, AtomTime(entry.uploaded));
  }
  xml += "<updated>" + updated + "</updated>\n";
  xml += "<link rel=\"self\" type=\"application/atom+xml\" href=\"" + EscapeXml(self) + "\"/>\n";
  xml += "<link rel=\"alternate\" type=\"text/html\" href=\"" + EscapeXml(alternate) + "\"/>\n";
  xml += "<author><name>" + EscapeXml(author) + "</name></author>\n<generator>Torvo</generator>\n";
  for (const auto& entry : entries) {
    std::string title = entry.title.empty() ? entry.url : entry.title;
    std::string own = page(entry);
    xml += "<entry>\n<id>" + EscapeXml(own.empty() ? self + "#" + std::to_string(entry.id) : own) + "</id>\n";
    xml += "<title type=\"text\">" + EscapeXml(title) + "</title>\n";
    xml += "<updated>" + AtomTime(entry.uploaded) + "</updated>\n";
    // The address the entry keeps is where a reader goes; its page in the album is related.
    if (IsWebAddress(entry.url)) {
      xml += "<link rel=\"alternate\" type=\"text/html\" href=\"" + EscapeXml(entry.url) + "\"/>\n";
      if (!own.empty()) xml += "<link rel=\"related\" type=\"text/html\" href=\"" + EscapeXml(own) + "\"/>\n";
    } else if (!own.empty()) {
      xml += "<link rel=\"alternate\" type=\"text/html\" href=\"" + EscapeXml(own) + "\"/>\n";
    }
    std::string html;
    if (IsWebAddress(entry.url)) {
      html += "<p><a href=\"" + EscapeHtml(entry.url) + "\">" + EscapeHtml(entry.url) + "</a></p>";
    } else if (!entry.url.empty()) {
      html += "<p>" + EscapeHtml(entry.url) + "</p>";
    }
    if (entry.HasPicture()) {
      std::string picture = thumb(entry);
      xml += "<link rel=\"enclosure\" type=\"image/png\" length=\"" + std::to_string(entry.size) + "\" href=\"" +
             EscapeXml(picture) + "\"/>\n";
      html += "<p><img src=\"" + EscapeHtml(picture) + "\" alt=\"\"></p>";
    }
    if (!entry.note.empty()) {
      std::string note = EscapeHtml(entry.note);
      for (size_t at = note.find('\n'); at != std::string::npos; at = note.find('\n', at + 5)) note.replace(at, 1, "<br>");
      html += "<p>" + note + "</p>";
    }
    xml += "<category term=\"" + EscapeXml(FolderName(entry.folder, folders)) + "\"/>\n";
    if (!entry.note.empty()) xml += "<summary type=\"text\">" + EscapeXml(entry.note) + "</summary>\n";
    xml += "<content type=\"html\">" + EscapeXml(html) + "</content>\n</entry>\n";
  }
  return xml + "</feed>\n";
}

}  // namespace

void AlbumPages::PublicFeed(const httplib::Request& request, httplib::Response& response) {
  Visit visit;
  if (!FindAlbum(request, response, visit)) return;
  Language l = visit.language;
  EntryQuery query = Selection(visit.userId, FormFields(RawQuery(request)));
  const std::string& search = query.search;
  const std::optional<int32_t>& folder = query.folder;
  query.limit = kFeedSize;
  std::vector<Image> entries = store_.PublicEntries(query);
  std::vector<Folder> folders = store_.Folders(visit.userId);
  std::string base = visit.origin + visit.path;
  std::string title = AlbumTitle(l, visit.album);
  if (folder) title += " · " + FolderName(*folder, folders);
  if (!search.empty()) title += " · " + search;
  std::string self = WithQuery(base + "/feed.atom", search, folder);
  std::string xml = AtomFeed(self, title, self, WithQuery(base + "/", search, folder), visit.album, entries, folders,
                             [&](const Image& e) { return base + "/thumb/" + std::to_string(e.id) + ".png"; },
                             [&](const Image& e) { return base + "/e/" + std::to_string(e.id); });
  response.set_content(std::move(xml), kAtomType);
}

void AlbumPages::PrivateFeed(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  std::string secret = request.matches[1].str();
  auto owner = store_.FeedOwner(secret);
  if (!owner) return NotFound(visit, response);
  auto user = store_.FindUserById(*owner);
  if (!user) return NotFound(visit, response);
  // A secret address is still no page for search engines.
  response.set_header("X-Robots-Tag", "noindex");
  EntryQuery query;
  query.userId = *owner;
  query.limit = kFeedSize;
  std::vector<Image> entries = store_.Entries(query);
  std::vector<Folder> folders = store_.Folders(*owner);
  std::string base = visit.origin + "/feed/" + secret;
  std::string xml = AtomFeed(base + ".atom", std::string(Words(visit.language, "All my entries")) + " · " + user->name,
                             base + ".atom", visit.origin + "/", user->name, entries, folders,
                             [&](const Image& e) { return base + "/thumb/" + std::to_string(e.id) + ".png"; },
                             [&](const Image&) { return std::string{}; });
  response.set_content(std::move(xml), kAtomType);
}

void AlbumPages::PrivateThumbnail(const httplib::Request& request, httplib::Response& response) {
  Visit visit = Begin(request, response);
  auto owner = store_.FeedOwner(request.matches[1].str());
  int64_t id = std::stoll(request.matches[2].str());
  std::string bytes = PictureBytes(store_, owner ? store_.FindEntry(*owner, id) : std::nullopt);
  if (bytes.empty()) return NotFound(visit, response);
  response.set_header("X-Robots-Tag", "noindex");
  response.set_content(std::move(bytes), "image/png");
}

std::string AlbumPages::SettingsSection(Language l, int64_t userId, const std::string& origin,
                                        const std::string& csrfField) {
  Sharing sharing = store_.SharingOf(userId);
  if (sharing.feedSecret.empty()) {
    sharing.feedSecret = store_.ReplaceFeedSecret(userId, RandomToken());
  }
  std::string album = sharing.album;
  if (album.empty()) {
    if (auto user = store_.FindUserById(userId)) album = user->name;
  }
  std::string base = publicAddress_.empty() ? origin : publicAddress_;
  while (base.ends_with('/')) base.pop_back();
  std::string address = base + "/u/" + PercentEncodeSegment(album) + "/";
  std::string html = "<section id=\"sharing\"><h2>" + EscapeHtml(Words(l, "Sharing")) + "</h2>";
  if (sharing.shared) {
    html += "<p class=\"shared\">" + EscapeHtml(Words(l, "Your entries that are not private are public at")) +
            " <a id=\"album-link\" href=\"" + EscapeHtml(address) + "\">" + EscapeHtml(address) + "</a></p>";
  } else {
    html += "<p class=\"hint\" id=\"sharing-off\">" +
            EscapeHtml(Words(l, "Sharing is off: nobody but you sees any of your entries.")) + "</p>";
  }
  html += "<form method=\"post\" action=\"/settings/sharing\">" + csrfField +
          "<label class=\"check\"><input type=\"checkbox\" name=\"shared\" value=\"1\"" +
          (sharing.shared ? " checked" : "") + "> " +
          EscapeHtml(Words(l, "Share the entries that are not private")) + "</label><label>" +
          EscapeHtml(Words(l, "Album name")) + "<input name=\"album\" value=\"" + EscapeHtml(album) +
          "\" maxlength=\"100\"></label><button type=\"submit\">" + EscapeHtml(Words(l, "Save")) + "</button></form>";
  std::string feed = base + "/feed/" + sharing.feedSecret + ".atom";
  html += "<h3>" + EscapeHtml(Words(l, "Private feed")) + "</h3><p class=\"hint\">" +
          EscapeHtml(Words(l, "Every entry, the private ones too, for your feed reader alone. Keep this address secret.")) +
          "</p><p><code id=\"private-feed\">" + EscapeHtml(feed) + "</code></p>";
  html += "<form method=\"post\" action=\"/settings/feed-address\">" + csrfField + "<button type=\"submit\">" +
          EscapeHtml(Words(l, "New private feed address")) + "</button> <span class=\"hint\">" +
          EscapeHtml(Words(l, "The old address then stops working.")) + "</span></form></section>";
  return html;
}

}  // namespace torvo::service
