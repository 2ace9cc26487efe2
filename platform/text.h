#pragma once
// Cutting a text at a delimiter. The command line of the upload tool and the palette files are
// both read with it.
#include <string>
#include <string_view>
#include <vector>

namespace torvo {

// Splits text at every occurrence of delimiter (exact, case-sensitive), keeping empty fields.
// There are always (number of delimiters + 1) fields, at least one, and joining them with the
// delimiter gives the text back. The delimiter must not be empty. Field 1 of the numbered
// description is element 0 here; the count is the vector's size.
template <typename CharT>
std::vector<std::basic_string<CharT>> SplitFields(std::basic_string_view<CharT> text,
                                                  std::basic_string_view<CharT> delimiter) {
  std::vector<std::basic_string<CharT>> fields;
  size_t start = 0;
  for (;;) {
    size_t p = text.find(delimiter, start);
    if (p == std::basic_string_view<CharT>::npos) {
      fields.emplace_back(text.substr(start));
      return fields;
    }
    fields.emplace_back(text.substr(start, p - start));
    start = p + delimiter.size();
  }
}

// The separator of the toolbar's command-line fields (identity, address, title, note), as bytes
// for the toolbar's host and as 16-bit text for TorvoTool.
template <typename CharT>
inline constexpr CharT kFieldSeparatorText[] = {CharT(';'), CharT('^'), CharT(';'), CharT(0)};
inline constexpr std::string_view kFieldSeparator(kFieldSeparatorText<char>, 3);
inline constexpr std::u16string_view kFieldSeparator16(kFieldSeparatorText<char16_t>, 3);

inline std::vector<std::u16string> SplitFields(std::u16string_view text, std::u16string_view delimiter) {
  return SplitFields<char16_t>(text, delimiter);
}

inline std::vector<std::string> SplitFields(std::string_view text, std::string_view delimiter) {
  return SplitFields<char>(text, delimiter);
}

}  // namespace torvo
