#pragma once
// Code page 949, the ANSI code page of the systems the programs were made for. Text that becomes
// bytes (percent escapes, socket text, palette files, replies of the service) goes through here.
#include <optional>
#include <string>
#include <string_view>

namespace torvo {

// The bytes of one character in code page 949 (one or two), or nothing when it has none.
std::optional<std::string> CharToCp949(char16_t c);

// Text to code page 949; a character the code page lacks becomes "?", one for each character,
// also for one beyond 16 bits that comes as two UTF-16 units (the code page has none of those).
std::string ToCp949(std::u16string_view text);

// Every code page 949 byte of the text (as ToCp949 makes them) as "%" and two uppercase
// hexadecimal digits: the escape of the note on the command line and of the upload's fields.
std::string PercentEncodeCp949(std::u16string_view text);

// Code page 949 bytes to text. A byte pair that forms a valid double-byte character is that
// character; any other byte at or above 0x80 (a lone lead byte, an unknown pair) becomes U+FFFD.
std::u16string FromCp949(std::string_view bytes);

// UTF-8 <-> UTF-16 for file names and the desktop edge.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view bytes);

}  // namespace torvo
