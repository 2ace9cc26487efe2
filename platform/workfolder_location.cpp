#include <cstdlib>

#include "platform/workfolder.h"

namespace torvo {

std::filesystem::path WorkFolder() {
  const char* home = std::getenv("HOME");
  std::filesystem::path base = (home && *home) ? home : "/tmp";
  return base / "Torvo";
}

}  // namespace torvo
