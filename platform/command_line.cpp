#include "platform/command_line.h"

namespace torvo {

std::string JoinArguments(int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

std::u16string AfterProgramToken(std::u16string_view commandLine) {
  size_t at = 0;
  if (!commandLine.empty() && commandLine[0] == u'"') {
    const size_t close = commandLine.find(u'"', 1);
    at = close == std::u16string_view::npos ? commandLine.size() : close + 1;
  } else {
    while (at < commandLine.size() && commandLine[at] != u' ' && commandLine[at] != u'\t') ++at;
  }
  while (at < commandLine.size() && (commandLine[at] == u' ' || commandLine[at] == u'\t')) ++at;
  return std::u16string(commandLine.substr(at));
}

}  // namespace torvo
