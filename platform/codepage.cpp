#include "platform/codepage.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

namespace torvo {

namespace {

// Both directions are tabulated once, through iconv, the first time they are needed.
struct Cp949Tables {
  // For each UTF-16 code unit: 0 = no mapping, else the bytes (lead in the high byte when two).
  std::array<uint16_t, 65536> encode{};
  std::array<uint8_t, 65536> encodeLength{};
  // For each double-byte pair lead*256+trail: the character, or 0 when the pair is invalid.
  std::array<char16_t, 65536> decodePair{};

  Cp949Tables() {
    iconv_t cd = iconv_open("CP949", "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return;
    for (uint32_t c = 1; c < 65536; ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      char in[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
      char out[8];
      char* inp = in;
      char* outp = out;
      size_t inLeft = 2, outLeft = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1)) continue;
      size_t len = sizeof out - outLeft;
      if (len == 1) {
        encode[c] = static_cast<uint8_t>(out[0]);
        encodeLength[c] = 1;
      } else if (len == 2) {
        uint16_t pair = static_cast<uint16_t>(static_cast<uint8_t>(out[0]) << 8 | static_cast<uint8_t>(out[1]));
        encode[c] = pair;
        encodeLength[c] = 2;
        if (decodePair[pair] == 0) decodePair[pair] = static_cast<char16_t>(c);
      }
    }
    iconv_close(cd);
  }
};

const Cp949Tables& Tables() {
  static const auto tables = std::make_unique<Cp949Tables>();
  return *tables;
}

}  // namespace

std::optional<std::string> CharToCp949(char16_t c) {
  if (c == 0) return std::string(1, '\0');
  const auto& t = Tables();
  switch (t.encodeLength[c]) {
    case 1: return std::string(1, static_cast<char>(t.encode[c]));
    case 2: return std::string{static_cast<char>(t.encode[c] >> 8), static_cast<char>(t.encode[c] & 0xFF)};
    default: return std::nullopt;
  }
}

std::string ToCp949(std::u16string_view text) {
  const auto& t = Tables();
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (t.encodeLength[c] == 1) {
      out.push_back(static_cast<char>(t.encode[c]));
    } else if (t.encodeLength[c] == 2) {
      out.push_back(static_cast<char>(t.encode[c] >> 8));
      out.push_back(static_cast<char>(t.encode[c] & 0xFF));
    } else {
      out.push_back('?');
    }
  }
  return out;
}

std::u16string FromCp949(std::string_view bytes) {
  const auto& t = Tables();
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
      if (char16_t c = t.decodePair[pair]) {
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
