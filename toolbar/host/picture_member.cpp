#include "toolbar/host/picture_member.h"

#include <algorithm>
#include <cstring>

namespace torvo::toolbar {

namespace {

constexpr std::string_view kPictureKey = "picture";
constexpr size_t kNone = std::string_view::npos;

// Where the text that begins after a quote at `from` ends (its closing quote), or kNone when it
// does not end. `plain`: no escape in it. The closing quote is found with memchr, which is fast
// over the megabytes of a picture; only a text with a backslash is walked escape by escape.
size_t TextEnd(std::string_view message, size_t from, bool& plain) {
  const char* begin = message.data() + from;
  const size_t left = message.size() - from;
  const void* quote = std::memchr(begin, '"', left);
  const size_t span = quote ? static_cast<size_t>(static_cast<const char*>(quote) - begin) : left;
  plain = std::memchr(begin, '\\', span) == nullptr;
  if (plain) return quote ? from + span : kNone;
  for (size_t i = from; i < message.size(); ++i) {
    if (message[i] == '\\') {
      ++i;
    } else if (message[i] == '"') {
      return i;
    }
  }
  return kNone;
}

size_t SkipSpace(std::string_view message, size_t at) {
  while (at < message.size() && (message[at] == ' ' || message[at] == '\t' || message[at] == '\n' || message[at] == '\r'))
    ++at;
  return at;
}

// What JSON reads back as the very same bytes from a text without escapes.
bool PrintableAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

}  // namespace

std::optional<MessageWithoutPicture> TakeOutPicture(std::string_view message) {
  size_t depth = 0;
  size_t pictureBegin = kNone, pictureEnd = kNone;
  for (size_t i = 0; i < message.size(); ++i) {
    const char c = message[i];
    if (c == '{' || c == '[') {
      ++depth;
    } else if ((c == '}' || c == ']') && depth > 0) {
      --depth;
    } else if (c == '"') {
      bool plain = false;
      const size_t end = TextEnd(message, i + 1, plain);
      if (end == kNone) return std::nullopt;
      const std::string_view text = message.substr(i + 1, end - i - 1);
      i = end;
      // A key of the outermost object is a text at depth one followed by a colon. Replacing a
      // text value by "" leaves a valid message valid and an invalid one invalid.
      if (depth != 1) continue;
      const size_t colon = SkipSpace(message, end + 1);
      if (colon >= message.size() || message[colon] != ':') continue;
      // A key written with escapes may read as "picture" too: the parser alone decides then.
      if (!plain) return std::nullopt;
      if (text != kPictureKey) continue;
      const size_t value = SkipSpace(message, colon + 1);
      if (value >= message.size() || message[value] != '"') continue;  // not a text: the parser says so
      const size_t valueEnd = TextEnd(message, value + 1, plain);
      if (valueEnd == kNone || !plain || pictureBegin != kNone) return std::nullopt;
      if (!PrintableAscii(message.substr(value + 1, valueEnd - value - 1))) return std::nullopt;
      pictureBegin = value + 1;
      pictureEnd = valueEnd;
      i = valueEnd;
    }
  }
  if (pictureBegin == kNone) return std::nullopt;
  MessageWithoutPicture parts;
  parts.rest.reserve(message.size() - (pictureEnd - pictureBegin));
  parts.rest.append(message.substr(0, pictureBegin)).append(message.substr(pictureEnd));
  parts.picture = message.substr(pictureBegin, pictureEnd - pictureBegin);
  return parts;
}

}  // namespace torvo::toolbar
