#include "upload/command_line.h"

#include "platform/text.h"

namespace torvo::upload {

CommandLineFields SplitCommandLine(std::u16string_view text) {
  auto f = SplitFields(text, kFieldSeparator16);
  CommandLineFields fields;
  fields.toolbarId = f[0];
  if (f.size() > 1) fields.url = f[1];
  if (f.size() > 2) fields.title = f[2];
  if (f.size() > 3) fields.encodedNote = f[3];
  return fields;
}

bool IsHttpAddress(std::u16string_view url) { return url.substr(0, 4) == u"http"; }

}  // namespace torvo::upload
