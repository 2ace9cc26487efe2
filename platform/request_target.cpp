#include "platform/http.h"

namespace torvo {

std::string EscapeRequestTarget(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char b : bytes) {
    if (b <= 0x20 || b >= 0x7F) {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0xF]);
    } else {
      out.push_back(static_cast<char>(b));
    }
  }
  return out;
}

}  // namespace torvo
