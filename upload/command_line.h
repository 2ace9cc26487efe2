#pragma once
// The toolbar's command line: identity, page address, page title and percent-encoded note,
// separated by ";^;". Fields after the fourth are ignored; missing ones stay empty.
#include <optional>
#include <string>
#include <string_view>

namespace torvo::upload {

struct CommandLineFields {
  std::u16string toolbarId;
  std::u16string url;
  std::u16string title;
  std::optional<std::u16string> encodedNote;  // present when there is a fourth field
};

CommandLineFields SplitCommandLine(std::u16string_view text);

// Only pages reached over HTTP (or HTTPS) can be kept: the address must begin with exactly
// "http", case-sensitive.
bool IsHttpAddress(std::u16string_view url);

}  // namespace torvo::upload
