#include <windows.h>

#include <cstdlib>

#include "platform/file_system.h"
#include "platform/service_connection.h"

namespace torvo {

std::filesystem::path ConnectionFilePath() {
  const wchar_t* appData = _wgetenv(L"APPDATA");
  if (!appData || !*appData) return {};
  return std::filesystem::path(appData) / L"Torvo" / L"connection";
}

// The roaming profile folder is the user's alone; the file takes its folder's protection.
std::optional<std::string> CreatePrivateFile(const std::filesystem::path& file, std::string_view bytes) {
  bool existed = false;
  return CreateNewFile(file, bytes, &existed);
}

}  // namespace torvo
