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

void MarkTlsServerReply(const std::string& url, HttpResult& result) {
  if (url.compare(0, 7, "http://") != 0) return;
  const bool alert = result.body.size() >= 2 && result.body[0] == '\x15' && result.body[1] == '\x03';
  const bool proxyPage = result.transportOk && result.status == 400 &&
                         result.body.find("HTTP request was sent to HTTPS port") != std::string::npos;
  if (!alert && !proxyPage) return;
  result.transportOk = false;
  result.failure = HttpResult::Failure::kSpeaksTls;
  result.status = 0;
  result.body.clear();
  result.error = "the server speaks TLS: the address should begin with https://";
}

}  // namespace torvo
