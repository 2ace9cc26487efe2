#pragma once
// Code page 949 for the service's replies and for the bytes the clients send. The service keeps
// its own text as UTF-8; the clients speak code page 949 on the wire.
#include <optional>
#include <string>
#include <string_view>

namespace torvo::service {

// UTF-8 text to code page 949 bytes; nothing when the text is not valid UTF-8 or holds a
// character the code page lacks.
std::optional<std::string> Utf8ToCp949(std::string_view utf8);

// Code page 949 bytes to UTF-8. A byte that starts no valid character (a lone lead byte, an
// unknown pair) becomes U+FFFD and the reading goes on with the next byte.
std::string Cp949ToUtf8(std::string_view bytes);

}  // namespace torvo::service
