#include "platform/workfolder.h"

#include <cstdlib>
#include <cwctype>
#include <system_error>

#include "platform/codepage.h"

namespace torvo {

std::filesystem::path WorkFolder() {
  const char* home = std::getenv("HOME");
  std::filesystem::path base = (home && *home) ? home : "/tmp";
  return base / "Torvo";
}

std::u16string FoldedName(const std::string& utf8) {
  std::u16string text = FromUtf8(utf8);
  for (auto& c : text) c = static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
  return text;
}

std::optional<std::filesystem::path> FindNoCase(const std::filesystem::path& folder, const std::string& name) {
  std::error_code ec;
  if (std::filesystem::exists(folder / name, ec) && !ec) return folder / name;
  const std::u16string wanted = FoldedName(name);
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string entry = it->path().filename().string();
    if (FoldedName(entry) == wanted) return it->path();
  }
  return std::nullopt;
}

bool DirExists(const std::filesystem::path& folder) {
  std::error_code ec;
  return std::filesystem::is_directory(folder, ec) && !ec;
}

}  // namespace torvo
