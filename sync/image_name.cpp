#include "sync/image_name.h"

#include "platform/codepage.h"

namespace torvo::sync {

namespace {
// The length of the name in UTF-8 without making it, as every listed name is checked.
size_t Utf8Length(std::u16string_view name) {
  size_t bytes = 0;
  for (char16_t c : name) {
    if (c >= 0xD800 && c <= 0xDFFF) return ToUtf8(name).size();  // pairs and strays as ToUtf8 counts them
    bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
  }
  return bytes;
}
}  // namespace

std::optional<std::u16string> ImageNameProblem(std::u16string_view name) {
  if (name.empty()) return std::nullopt;
  for (char16_t c : name) {
    if (c == u'/' || c == u'\\') return u"the name contains a slash";
    // C0, DEL and C1 controls: none of them belongs in a file name.
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return u"the name contains a control character";
    if (c == u'\uFFFD') return u"the name is not valid code page 949 text";
  }
  if (name.front() == u'.') return u"the name begins with a dot";
  if (Utf8Length(name) > kMaxImageNameBytes) return u"the name is longer than 200 bytes";
  return std::nullopt;
}

}  // namespace torvo::sync
