// TorvoTool's command line as main() reads it: the arguments' bytes as UTF-8, cut at ";^;" into
// identity, address, title and note, the address tested, the note decoded. The byte form of the
// field splitter, which the palette files use, gets a delimiter of the input's choosing.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/error.h"
#include "platform/text.h"
#include "upload/codecs.h"
#include "upload/command_line.h"

namespace {

using namespace torvo;

template <typename CharT>
void CheckSplit(std::basic_string_view<CharT> text, std::basic_string_view<CharT> delimiter) {
  auto fields = SplitFields(text, delimiter);
  TORVO_FUZZ_CHECK(!fields.empty(), "there is always one field");
  std::basic_string<CharT> joined;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) joined += delimiter;
    joined += fields[i];
    TORVO_FUZZ_CHECK(fields[i].find(delimiter) == std::basic_string<CharT>::npos, "a field holds the delimiter");
  }
  TORVO_FUZZ_CHECK(joined == text, "the fields joined do not give the text back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string text = FromUtf8(fuzz::Bytes(data, size));
  CheckSplit<char16_t>(text, kFieldSeparator16);

  const upload::CommandLineFields fields = upload::SplitCommandLine(text);
  const auto all = SplitFields(std::u16string_view(text), kFieldSeparator16);
  TORVO_FUZZ_CHECK(fields.toolbarId == all[0], "the identity is not field 1");
  TORVO_FUZZ_CHECK(fields.url == (all.size() > 1 ? all[1] : u""), "the address is not field 2");
  TORVO_FUZZ_CHECK(fields.title == (all.size() > 2 ? all[2] : u""), "the title is not field 3");
  TORVO_FUZZ_CHECK(fields.encodedNote.has_value() == (all.size() > 3), "the note is there without field 4");
  const bool http = upload::IsHttpAddress(fields.url);
  TORVO_FUZZ_CHECK(http == (fields.url.size() >= 4 && fields.url.compare(0, 4, u"http") == 0),
                   "the address test is not a case-sensitive \"http\" prefix");

  if (fields.encodedNote) {
    try {
      const std::u16string note = upload::DecodeNote(*fields.encodedNote);
      TORVO_FUZZ_CHECK(note.size() <= fields.encodedNote->size(), "decoding made the note longer");
    } catch (const TorvoError& e) {
      TORVO_FUZZ_CHECK(e.number() == upload::kErrUrlDecode && e.description() == upload::kUrlDecodeMessage,
                       "an undecodable note raised another error than 65001");
    }
  }

  // Byte form: the first byte gives the delimiter's length (1 to 4), then the delimiter.
  if (size >= 2) {
    const size_t length = 1 + data[0] % 4;
    if (size > length) {
      CheckSplit<char>(fuzz::Bytes(data + 1 + length, size - 1 - length), fuzz::Bytes(data + 1, length));
    }
  }
  return 0;
}
