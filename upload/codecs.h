#pragma once
// The upload tool's text codecs: the toolbar's percent-encoded note coming in, and the percent
// escape of the fields going out in the upload's query string. Bytes are code page 949.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvo::upload {

// The error number and text of a note that cannot be decoded.
inline constexpr int32_t kErrUrlDecode = 65001;
inline constexpr char kUrlDecodeMessage[] = "Invalid data passed to UrlDecode() function.";

// "+" reads as a space and "%" with one or two hexadecimal digits as that byte. Consecutive
// bytes (escaped or plain ASCII) are read as code page 949, so the two escapes of a Korean
// character give that one character; a byte that forms no character becomes U+FFFD. A "%" that
// is not followed by hexadecimal digits raises kErrUrlDecode.
std::u16string UrlDecode(std::u16string_view sEncoded);

// The note of the command line: a "%" followed by any run of "25" reads as one "%" (the toolbar
// sometimes encodes the percent sign twice), then UrlDecode.
std::u16string DecodeNote(std::u16string_view note);

// cMode 0: every character becomes "%" and two uppercase hexadecimal digits per code page 949
// byte ("가" is %B0%A1; a character the code page lacks, also one beyond 16 bits, is one "?",
// %3F). cMode -1: the reverse,
// UrlDecode. Any other mode gives nothing.
std::optional<std::u16string> Coding(std::u16string_view nString, int16_t cMode);

}  // namespace torvo::upload
