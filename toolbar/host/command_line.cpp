#include "toolbar/host/command_line.h"

#include <array>

#include "platform/codepage.h"
#include "platform/text.h"

namespace torvo::toolbar {

std::string EncodeNote(std::string_view note) {
  std::u16string text = FromUtf8(note);
  for (char16_t& c : text) {
    if (c == u'%') c = u'％';
  }
  return PercentEncodeCp949(text);
}

std::variant<std::string, Refusal> BuildCommandLine(const ToolbarRequest& request) {
  struct Field {
    const std::string* text;
    const char* label;
  };
  const std::array<Field, 3> plain{{{&request.toolbarId, "The identity"},
                                    {&request.url, "The page address"},
                                    {&request.title, "The page title"}}};
  for (const auto& [text, label] : plain) {
    bool contains = text->find(kFieldSeparator) != std::string::npos;
    bool endsInPart = text->ends_with(kFieldSeparator.substr(0, 2));
    if (contains || endsInPart) {
      return Refusal{"separator",
                     std::string(label) + (contains ? " contains \";^;\"" : " ends in \";^\"") +
                         ", which TorvoTool would read as a field separator; the page cannot be sent as it is."};
    }
  }
  std::string line = request.toolbarId;
  line.append(kFieldSeparator).append(request.url);
  line.append(kFieldSeparator).append(request.title);
  line.append(kFieldSeparator).append(EncodeNote(request.note));

  // The checks above are what makes this hold; a field that still came back different would
  // reach the service under the wrong name.
  auto fields = SplitFields(std::string_view(line), kFieldSeparator);
  if (fields.size() != 4 || fields[0] != request.toolbarId || fields[1] != request.url || fields[2] != request.title) {
    return Refusal{"separator", "The page cannot be sent: its fields would not reach TorvoTool unchanged."};
  }
  return line;
}

}  // namespace torvo::toolbar
