#include "service/web/bookmarks.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <map>
#include <optional>

#include "service/web/html.h"

namespace torvo::service {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

// The notes keep their line breaks; an HTML reader folds them, so the file carries them as <BR>.
std::string EscapeNote(std::string_view note) {
  std::string out;
  for (char c : EscapeHtml(note)) {
    if (c == '\r') continue;
    if (c == '\n') out += "<BR>";
    else out += c;
  }
  return out;
}

void AppendUtf8(std::string& out, uint32_t code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Character references back to text: the named ones such files use, and numeric ones.
std::string Unescape(std::string_view text) {
  static const std::map<std::string_view, std::string_view> kNamed = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", "\xC2\xA0"}};
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
      continue;
    }
    size_t end = text.find(';', i);
    if (end == std::string_view::npos || end - i > 10) {
      out += '&';
      continue;
    }
    std::string_view name = text.substr(i + 1, end - i - 1);
    if (name.size() > 1 && name[0] == '#') {
      uint32_t code = 0;
      bool hex = name[1] == 'x' || name[1] == 'X';
      std::string_view digits = name.substr(hex ? 2 : 1);
      auto [p, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
      if (error != std::errc{} || p != digits.data() + digits.size()) {
        out += '&';
        continue;
      }
      AppendUtf8(out, code);
    } else if (auto found = kNamed.find(Lower(name)); found != kNamed.end()) {
      out += found->second;
    } else {
      out += '&';
      continue;
    }
    i = end;
  }
  return out;
}

std::string Collapse(std::string_view text) {
  std::string out;
  bool space = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      space = !out.empty();
    } else {
      if (space) out += ' ';
      space = false;
      out += c;
    }
  }
  return out;
}

// A date as the files write it; 0 when none can be read.
std::time_t ReadDate(std::string_view text) {
  int64_t value = 0;
  auto [p, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc{} && p == text.data() + text.size()) {
    while (value > 100000000000LL) value /= 1000;  // milliseconds or microseconds
    return value > 0 ? static_cast<std::time_t>(value) : 0;
  }
  std::tm parts{};
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::string copy(text);
  int read = std::sscanf(copy.c_str(), "%d-%d-%d%*[T ]%d:%d:%d", &year, &month, &day, &hour, &minute, &second);
  if (read < 3 || year < 1970 || month < 1 || month > 12 || day < 1 || day > 31) return 0;
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  return timegm(&parts);
}

struct Tag {
  std::string name;  // lower case, "/" first for an end tag
  std::map<std::string, std::string> attributes;  // lower-case names, unescaped values
};

// Reads the tag that starts at text[pos] == '<'; pos moves past it.
Tag ReadTag(std::string_view text, size_t& pos) {
  Tag tag;
  size_t i = pos + 1;
  auto space = [&](size_t at) { return at < text.size() && std::isspace(static_cast<unsigned char>(text[at])); };
  size_t start = i;
  while (i < text.size() && !space(i) && text[i] != '>' && !(text[i] == '/' && i > start)) ++i;
  tag.name = Lower(text.substr(start, i - start));
  while (i < text.size() && text[i] != '>') {
    while (space(i) || (i < text.size() && text[i] == '/')) ++i;
    size_t nameStart = i;
    while (i < text.size() && !space(i) && text[i] != '=' && text[i] != '>') ++i;
    std::string name = Lower(text.substr(nameStart, i - nameStart));
    while (space(i)) ++i;
    std::string value;
    if (i < text.size() && text[i] == '=') {
      ++i;
      while (space(i)) ++i;
      if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
        char quote = text[i++];
        size_t end = text.find(quote, i);
        if (end == std::string_view::npos) end = text.size();
        value = Unescape(text.substr(i, end - i));
        i = std::min(end + 1, text.size());
      } else {
        size_t valueStart = i;
        while (i < text.size() && !space(i) && text[i] != '>') ++i;
        value = Unescape(text.substr(valueStart, i - valueStart));
      }
    }
    if (!name.empty()) tag.attributes[name] = value;
    if (nameStart == i && i < text.size() && text[i] != '>') ++i;  // a stray character
  }
  pos = std::min(i + 1, text.size());
  return tag;
}

}  // namespace

std::string WriteBookmarks(const std::vector<Bookmark>& bookmarks) {
  std::string out =
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
      "<!-- This is an automatically generated file.\n     It will be read and overwritten.\n     DO NOT EDIT! -->\n"
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
      "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n";
  auto entry = [&](const Bookmark& bookmark, const char* indent) {
    out.append(indent).append("<DT><A HREF=\"").append(EscapeHtml(bookmark.url)).append("\" ADD_DATE=\"");
    out.append(std::to_string(static_cast<int64_t>(bookmark.added))).append("\" PRIVATE=\"");
    out.append(bookmark.isPrivate ? "1" : "0").append("\">").append(EscapeHtml(bookmark.title)).append("</A>\n");
    if (!bookmark.note.empty()) out.append(indent).append("<DD>").append(EscapeNote(bookmark.note)).append("\n");
  };
  std::vector<std::string> folders;
  for (const auto& bookmark : bookmarks) {
    if (bookmark.folder.empty()) {
      entry(bookmark, "    ");
    } else if (std::find(folders.begin(), folders.end(), bookmark.folder) == folders.end()) {
      folders.push_back(bookmark.folder);
    }
  }
  for (const auto& folder : folders) {
    out.append("    <DT><H3>").append(EscapeHtml(folder)).append("</H3>\n    <DL><p>\n");
    for (const auto& bookmark : bookmarks) {
      if (bookmark.folder == folder) entry(bookmark, "        ");
    }
    out.append("    </DL><p>\n");
  }
  out += "</DL><p>\n";
  return out;
}

std::vector<Bookmark> ReadBookmarks(std::string_view html) {
  std::vector<Bookmark> bookmarks;
  std::vector<std::string> folders;  // the open lists' folders
  std::string heading;               // the last H3, which names the next list
  bool inHeading = false, inLink = false, inNote = false;
  std::string text;
  Bookmark link;
  auto endNote = [&] {
    if (inNote && !bookmarks.empty()) {
      std::string note;
      for (char c : Unescape(text)) {
        if (c != '\r') note += c;
      }
      size_t first = note.find_first_not_of(" \t\n");
      size_t last = note.find_last_not_of(" \t\n");
      note = first == std::string::npos ? "" : note.substr(first, last - first + 1);
      std::string& target = bookmarks.back().note;  // holds the link's tags so far
      if (!target.empty()) note += (note.empty() ? "" : "\n") + target;
      target = note;
    }
    inNote = false;
    text.clear();
  };

  for (size_t pos = 0; pos < html.size();) {
    if (html[pos] != '<') {
      size_t next = html.find('<', pos);
      if (next == std::string_view::npos) next = html.size();
      if (inHeading || inLink || inNote) text.append(html.substr(pos, next - pos));
      pos = next;
      continue;
    }
    if (html.substr(pos, 4) == "<!--") {
      size_t end = html.find("-->", pos);
      pos = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    Tag tag = ReadTag(html, pos);
    if (tag.name == "br" && inNote) {
      text += '\n';
      continue;
    }
    if (tag.name == "dt" || tag.name == "dl" || tag.name == "/dl" || tag.name == "h3" || tag.name == "a") endNote();
    if (tag.name == "h3") {
      inHeading = true;
      text.clear();
    } else if (tag.name == "/h3" && inHeading) {
      heading = Collapse(Unescape(text));
      inHeading = false;
      text.clear();
    } else if (tag.name == "dl") {
      folders.push_back(heading);
      heading.clear();
    } else if (tag.name == "/dl") {
      if (!folders.empty()) folders.pop_back();
    } else if (tag.name == "a") {
      link = Bookmark{};
      link.url = tag.attributes["href"];
      link.added = ReadDate(tag.attributes["add_date"]);
      std::string flag = Lower(tag.attributes["private"]);
      link.isPrivate = flag == "1" || flag == "true" || flag == "yes";
      std::string tags = tag.attributes["tags"];
      for (size_t start = 0; start < tags.size();) {
        size_t comma = tags.find(',', start);
        std::string one = Collapse(tags.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        std::replace(one.begin(), one.end(), ' ', '_');
        if (!one.empty()) link.note += (link.note.empty() ? "#" : " #") + one;
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
      for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        if (!it->empty()) {
          link.folder = *it;
          break;
        }
      }
      inLink = true;
      text.clear();
    } else if (tag.name == "/a" && inLink) {
      link.title = Collapse(Unescape(text));
      inLink = false;
      text.clear();
      if (!link.url.empty()) bookmarks.push_back(link);
    } else if (tag.name == "dd" && !inLink) {
      inNote = true;
      text.clear();
    }
  }
  endNote();
  return bookmarks;
}

}  // namespace torvo::service
