#include "upload/codecs.h"

#include "platform/codepage.h"
#include "platform/error.h"

namespace torvo::upload {

namespace {

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

[[noreturn]] void RaiseUndecodable() { throw TorvoError(kErrUrlDecode, ProgramName(), kUrlDecodeMessage); }

}  // namespace

std::u16string UrlDecode(std::u16string_view sEncoded) {
  std::u16string out;
  // Bytes waiting to be read as code page 949: a double-byte character may be split over two
  // escapes, or an escaped lead byte followed by a plain ASCII trail byte.
  std::string bytes;
  auto flush = [&] {
    out += FromCp949(bytes);
    bytes.clear();
  };
  for (size_t i = 0; i < sEncoded.size();) {
    char16_t c = sEncoded[i];
    if (c == u'%') {
      size_t digits = std::min<size_t>(2, sEncoded.size() - i - 1);
      if (digits == 0) RaiseUndecodable();
      int value = 0;
      for (size_t k = 1; k <= digits; ++k) {
        int d = HexDigit(sEncoded[i + k]);
        if (d < 0) RaiseUndecodable();
        value = value * 16 + d;
      }
      bytes.push_back(static_cast<char>(value));
      i += 1 + digits;
      continue;
    }
    if (c == u'+') {
      bytes.push_back(' ');
    } else if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
    } else {
      // A character that came in as text stays that character.
      flush();
      out.push_back(c);
    }
    ++i;
  }
  flush();
  return out;
}

std::u16string DecodeNote(std::u16string_view note) {
  std::u16string collapsed;
  collapsed.reserve(note.size());
  for (size_t i = 0; i < note.size();) {
    collapsed.push_back(note[i]);
    if (note[i++] != u'%') continue;
    while (i + 1 < note.size() && note[i] == u'2' && note[i + 1] == u'5') i += 2;
  }
  return UrlDecode(collapsed);
}

std::optional<std::u16string> Coding(std::u16string_view nString, int16_t cMode) {
  if (cMode == -1) return UrlDecode(nString);
  if (cMode != 0) return std::nullopt;
  const std::string escaped = PercentEncodeCp949(nString);
  return std::u16string(escaped.begin(), escaped.end());
}

}  // namespace torvo::upload
