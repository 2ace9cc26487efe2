#include "platform/workfolder.h"

#include <cstdint>
#include <cwctype>
#include <system_error>

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace torvo {

std::u16string FoldedName(const std::string& utf8) { return FoldedName(std::u16string_view(FromUtf8(utf8))); }

char16_t FoldedCharBeyondAscii(char16_t c) { return static_cast<char16_t>(std::towlower(static_cast<wint_t>(c))); }

std::u16string FoldedName(std::u16string_view name) {
  std::u16string text(name);
  for (auto& c : text) c = FoldedChar(c);
  return text;
}

size_t FoldedNameHash::operator()(std::u16string_view name, std::u16string_view suffix) const {
  // FNV-1a over the folded characters.
  uint64_t hash = 14695981039346656037ull;
  for (char16_t c : name) hash = (hash ^ FoldedChar(c)) * 1099511628211ull;
  for (char16_t c : suffix) hash = (hash ^ FoldedChar(c)) * 1099511628211ull;
  return static_cast<size_t>(hash);
}

bool FoldedNameEqual::operator()(std::u16string_view a, std::u16string_view b) const {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldedChar(a[i]) != FoldedChar(b[i])) return false;
  }
  return true;
}

std::optional<std::filesystem::path> FindNoCase(const std::filesystem::path& folder, const std::string& name) {
  std::error_code ec;
  const std::filesystem::path exact = folder / PathFromUtf8(name);
  if (std::filesystem::exists(exact, ec) && !ec) return StoredSpelling(exact);
  const std::u16string wanted = FoldedName(name);
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string entry = Utf8Path(it->path().filename());
    if (FoldedName(entry) == wanted) return it->path();
  }
  return std::nullopt;
}

bool DirExists(const std::filesystem::path& folder) {
  std::error_code ec;
  return std::filesystem::is_directory(folder, ec) && !ec;
}

}  // namespace torvo
