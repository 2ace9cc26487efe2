#pragma once
// The page's picture is nearly all of a message (megabytes of base64 beside a few short fields),
// and the JSON parser takes it a character at a time into growing buffers: far the costliest
// part of the host's work. A message whose picture is a plain text member of the top-level object
// (printable ASCII, no escapes: what base64 in a data URL always is) has it taken out first; the
// parser then reads the rest, the picture's place holding an empty text. Whatever the message,
// the answer is the one the parser alone would lead to.
#include <optional>
#include <string>
#include <string_view>

namespace torvo::toolbar {

struct MessageWithoutPicture {
  std::string rest;          // the message with the picture's text replaced by ""
  std::string_view picture;  // the picture's text, inside the message taken apart
};

// The message taken apart, or nothing when it has no such picture member (none, one with escapes
// or other characters, two of them, or a text that does not end): the parser then reads it whole.
std::optional<MessageWithoutPicture> TakeOutPicture(std::string_view message);

}  // namespace torvo::toolbar
