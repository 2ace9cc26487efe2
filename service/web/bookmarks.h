#pragma once
// Bookmark files in the Netscape form that browsers and bookmark services write and read: a
// folder is an H3 heading before the list of its entries, an entry a link with its date
// (ADD_DATE, seconds since 1970) and PRIVATE flag, its note the DD after it.
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace torvo::service {

struct Bookmark {
  std::string folder;  // empty: the default folder
  std::string url, title, note;
  std::time_t added = 0;
  bool isPrivate = false;
};

// The whole file; entries of the default folder stand outside any folder.
std::string WriteBookmarks(const std::vector<Bookmark>& bookmarks);

// Reads what browsers and other services write, forgiving: the DOCTYPE may be missing, tag and
// attribute names take any case, dates may be seconds, milliseconds or microseconds since 1970
// or a written date (a date that cannot be read gives 0), tags (TAGS) join the note as "#tag"
// words, a folder inside a folder is known by its own name. Links without an address are skipped.
std::vector<Bookmark> ReadBookmarks(std::string_view html);

}  // namespace torvo::service
