#include "platform/codepage.h"

#include <cstdint>

namespace torvo {

namespace {

// Both directions, tabulated from iconv when the project was built.
#include "cp949_tables.inc"

// Appends the bytes of one character; false when the code page lacks it.
bool AppendCp949(std::string& out, char16_t c) {
  const uint16_t bytes = kCp949Encode[c];
  if (c == 0 || (bytes != 0 && bytes < 0x100)) {
    out.push_back(static_cast<char>(bytes));
    return true;
  }
  if (bytes == 0) return false;
  out.push_back(static_cast<char>(bytes >> 8));
  out.push_back(static_cast<char>(bytes & 0xFF));
  return true;
}

}  // namespace

std::optional<std::string> CharToCp949(char16_t c) {
  std::string bytes;
  if (!AppendCp949(bytes, c)) return std::nullopt;
  return bytes;
}

std::string ToCp949(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;  // one character beyond the 16-bit range, and one "?" for it
      out.push_back('?');
      continue;
    }
    if (!AppendCp949(out, c)) out.push_back('?');
  }
  return out;
}

std::string PercentEncodeCp949(std::u16string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::string bytes = ToCp949(text);
  std::string escaped;
  escaped.reserve(bytes.size() * 3);
  for (unsigned char b : bytes) {
    escaped.push_back('%');
    escaped.push_back(kHex[b >> 4]);
    escaped.push_back(kHex[b & 0x0F]);
  }
  return escaped;
}

std::u16string FromCp949(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(bytes[i]);
    if (b < 0x80) {
      out.push_back(b);
      continue;
    }
    if (i + 1 < bytes.size()) {
      uint16_t pair = static_cast<uint16_t>(b << 8 | static_cast<uint8_t>(bytes[i + 1]));
      if (char16_t c = kCp949DecodePair[pair]) {
        out.push_back(c);
        ++i;
        continue;
      }
    }
    out.push_back(u'\uFFFD');
  }
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    uint8_t b = static_cast<uint8_t>(bytes[i]);
    uint32_t c;
    size_t extra;
    if (b < 0x80) { c = b; extra = 0; }
    else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; extra = 1; }
    else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; extra = 2; }
    else if ((b & 0xF8) == 0xF0) { c = b & 0x07; extra = 3; }
    else { out.push_back(u'\uFFFD'); ++i; continue; }
    size_t k = 1;
    for (; k <= extra; ++k) {
      if (i + k >= bytes.size() || (static_cast<uint8_t>(bytes[i + k]) & 0xC0) != 0x80) break;
      c = (c << 6) | (static_cast<uint8_t>(bytes[i + k]) & 0x3F);
    }
    if (k <= extra) {  // a cut sequence is one replacement character
      out.push_back(u'\uFFFD');
      i += k;
      continue;
    }
    i += extra + 1;
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else if (c < 0x10000 && !(c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      out.push_back(u'\uFFFD');
    }
  }
  return out;
}

}  // namespace torvo
