#pragma once
// Pieces of the web page's HTML: escaping, and the page's words in Korean and English.
#include <string>
#include <string_view>

namespace torvo::service {

// Text made safe inside HTML elements and quoted attribute values: & < > " ' become references.
std::string EscapeHtml(std::string_view text);

enum class Language { English, Korean };

// The language the browser prefers of the two (Accept-Language, weights honoured); English when
// it names neither.
Language PreferredLanguage(std::string_view acceptLanguage);

// The page's words in the language: english is the English text (a literal), and the key of its
// translation.
std::string_view Words(Language language, std::string_view english);

}  // namespace torvo::service
