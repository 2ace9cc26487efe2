#pragma once
// The work folder ~/Torvo/, where the upload tool keeps its work files and thumbnails and the
// sync keeps the album. Names in it are matched without regard to case.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace torvo {

// $HOME/Torvo on Linux (tests point HOME at a temporary folder); C:\Torvo\ on Windows.
std::filesystem::path WorkFolder();

// The existing entry of folder whose name equals name without regard to (ASCII and Unicode
// simple) case, or nothing. An exact match wins over a case-folded one.
std::optional<std::filesystem::path> FindNoCase(const std::filesystem::path& folder, const std::string& name);

// The form of a UTF-8 name that FindNoCase compares: equal for names that differ only in case.
// For callers that look up many names in one folder listing.
std::u16string FoldedName(const std::string& utf8);
// The same of a name already in 16-bit text.
std::u16string FoldedName(std::u16string_view name);
// One character of it: names fold a character at a time, so folding keeps their length.
char16_t FoldedCharBeyondAscii(char16_t c);
inline char16_t FoldedChar(char16_t c) {
  // ASCII letters fold the same way in every locale, as the file systems that ignore case fold
  // them (a Turkish locale's towlower would turn "I" into a dotless i no "i" matches). Inline: a
  // sync folds every character of a thousand names.
  if (c < 0x80) return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
  return FoldedCharBeyondAscii(c);
}

// Hash and equality of names as FoldedName compares them, folding as they go: a set of names
// with these is asked about a name without making its folded copy. With a suffix, the hash is the
// one of name followed by suffix, for a name asked about without being put together.
struct FoldedNameHash {
  using is_transparent = void;
  size_t operator()(std::u16string_view name, std::u16string_view suffix = {}) const;
};
struct FoldedNameEqual {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const;
};

// Whether the folder exists; any error gives false.
bool DirExists(const std::filesystem::path& folder);

}  // namespace torvo
