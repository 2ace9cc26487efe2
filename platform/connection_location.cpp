#include <cstdlib>

#include "platform/service_connection.h"

namespace torvo {

std::filesystem::path ConnectionFilePath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // A relative XDG_CONFIG_HOME is to be ignored, as the base directory rules say.
  if (config && config[0] == '/') return std::filesystem::path(config) / "torvo" / "connection";
  const char* home = std::getenv("HOME");
  if (!home || !*home) return {};
  return std::filesystem::path(home) / ".config" / "torvo" / "connection";
}

}  // namespace torvo
