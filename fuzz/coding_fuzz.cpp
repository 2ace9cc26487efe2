// Coding, the percent escape of the upload's query fields: every character becomes escapes of
// its code page 949 bytes, uppercase, nothing passes unchanged, and UrlDecode reads the escapes
// back to the same text as the code page itself does.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/codepage.h"
#include "upload/codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace torvo;
  const std::u16string text = fuzz::Text(data, size);

  const auto escaped = upload::Coding(text, 0);
  TORVO_FUZZ_CHECK(escaped.has_value(), "Coding 0 gave nothing");
  const std::string bytes = ToCp949(text);
  TORVO_FUZZ_CHECK(escaped->size() == 3 * bytes.size(), "not one escape per code page byte");
  static const char16_t kHex[] = u"0123456789ABCDEF";
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    TORVO_FUZZ_CHECK((*escaped)[3 * i] == u'%' && (*escaped)[3 * i + 1] == kHex[b >> 4] &&
                         (*escaped)[3 * i + 2] == kHex[b & 0xF],
                     "an escape is not the byte in uppercase hexadecimal");
  }
  TORVO_FUZZ_CHECK(upload::UrlDecode(*escaped) == FromCp949(bytes), "UrlDecode does not read Coding back");

  // Modes other than 0 and -1 give nothing.
  if (size >= 2) {
    const auto mode = static_cast<int16_t>(data[0] | data[1] << 8);
    if (mode != 0 && mode != -1) TORVO_FUZZ_CHECK(!upload::Coding(text, mode).has_value(), "an unknown mode gave text");
  }
  return 0;
}
