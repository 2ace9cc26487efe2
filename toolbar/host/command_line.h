#pragma once
// The command line TorvoTool reads: identity, page address, page title and the percent-encoded
// note, separated by ";^;". It travels as one argument, so TorvoTool's joining of its arguments
// with spaces gives exactly this text back.
#include <string>
#include <string_view>
#include <variant>

#include "platform/text.h"
#include "toolbar/host/toolbar_request.h"

namespace torvo::toolbar {

// The note as TorvoTool decodes it: every code page 949 byte as "%" and two uppercase
// hexadecimal digits. TorvoTool reads a "%" followed by "25"s as a bare "%", so an ASCII percent
// sign cannot arrive: it is sent as the full-width "％". A character the code page lacks
// becomes "?". The input is valid UTF-8.
std::string EncodeNote(std::string_view note);

// The whole command-line text (UTF-8), or a refusal when the identity, address or title would
// not come back out of it as the same field: one that contains ";^;", or one that ends in ";^"
// (which, with the separator after it, reads as a separator one character early).
std::variant<std::string, Refusal> BuildCommandLine(const ToolbarRequest& request);

}  // namespace torvo::toolbar
