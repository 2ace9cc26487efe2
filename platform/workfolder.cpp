#include "platform/workfolder.h"

#include <cwctype>
#include <system_error>

#include "platform/codepage.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace torvo {

std::u16string FoldedName(const std::string& utf8) { return FoldedName(std::u16string_view(FromUtf8(utf8))); }

std::u16string FoldedName(std::u16string_view name) {
  std::u16string text(name);
  for (auto& c : text) {
    // ASCII letters fold the same way in every locale, as the file systems that ignore case fold
    // them (a Turkish locale's towlower would turn "I" into a dotless i no "i" matches).
    if (c < 0x80) {
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
    } else {
      c = static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
    }
  }
  return text;
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
