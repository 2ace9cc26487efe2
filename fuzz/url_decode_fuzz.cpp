// UrlDecode and the note decoding on any text: the only failure is error 65001; escapes never
// make the text longer; the reverse mode of Coding is the same routine.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/error.h"
#include "upload/codecs.h"

namespace {

using namespace torvo;

std::optional<std::u16string> Decode(std::u16string_view text, std::u16string (*decode)(std::u16string_view)) {
  try {
    return decode(text);
  } catch (const TorvoError& e) {
    TORVO_FUZZ_CHECK(e.number() == upload::kErrUrlDecode && e.description() == upload::kUrlDecodeMessage,
                     "an undecodable text raised another error than 65001");
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string text = fuzz::Text(data, size);

  const auto decoded = Decode(text, upload::UrlDecode);
  if (decoded) TORVO_FUZZ_CHECK(decoded->size() <= text.size(), "UrlDecode made the text longer");

  std::optional<std::u16string> reverse;
  try {
    reverse = upload::Coding(text, -1);
    TORVO_FUZZ_CHECK(reverse.has_value(), "Coding -1 gave nothing");
  } catch (const TorvoError& e) {
    TORVO_FUZZ_CHECK(e.number() == upload::kErrUrlDecode, "Coding -1 raised another error than 65001");
  }
  TORVO_FUZZ_CHECK(reverse == decoded, "Coding -1 is not UrlDecode");

  // Plain text without "%" or "+" in the ASCII range comes through unchanged.
  bool plain = true;
  for (char16_t c : text) plain = plain && c < 0x80 && c != u'%' && c != u'+';
  if (plain) TORVO_FUZZ_CHECK(decoded == text, "plain ASCII text was changed");

  const auto note = Decode(text, upload::DecodeNote);
  if (note) TORVO_FUZZ_CHECK(note->size() <= text.size(), "the note decoding made the text longer");
  return 0;
}
