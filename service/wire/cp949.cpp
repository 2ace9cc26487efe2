#include "service/wire/cp949.h"

#include <cerrno>
#include <iconv.h>

namespace torvo::service {

namespace {

// One conversion descriptor per call: iconv descriptors keep state and are not shared.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (Valid()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as it can; returns the errno that stopped it (0 when all was converted).
  int Convert(std::string_view& in, std::string& out) {
    char buffer[4096];
    while (!in.empty()) {
      char* inPtr = const_cast<char*>(in.data());
      size_t inLeft = in.size();
      char* outPtr = buffer;
      size_t outLeft = sizeof buffer;
      size_t result = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      int error = result == static_cast<size_t>(-1) ? errno : 0;
      out.append(buffer, sizeof buffer - outLeft);
      in.remove_prefix(in.size() - inLeft);
      if (error != 0 && error != E2BIG) return error;
    }
    return 0;
  }

 private:
  iconv_t cd_;
};

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

}  // namespace

std::optional<std::string> Utf8ToCp949(std::string_view utf8) {
  Converter converter("CP949", "UTF-8");
  if (!converter.Valid()) return std::nullopt;
  std::string out;
  if (converter.Convert(utf8, out) != 0) return std::nullopt;
  return out;
}

std::string Cp949ToUtf8(std::string_view bytes) {
  Converter converter("UTF-8", "CP949");
  std::string out;
  if (!converter.Valid()) return out;
  while (!bytes.empty()) {
    if (converter.Convert(bytes, out) == 0) break;
    out += kReplacement;
    bytes.remove_prefix(1);
  }
  return out;
}

}  // namespace torvo::service
