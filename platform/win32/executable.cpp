#include "platform/executable.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/codepage.h"

namespace torvo {

std::filesystem::path ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);  // a long path was cut short: ask again with more room
  }
}

std::vector<std::string> ProgramArguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!words) return args;
  for (int i = 1; i < count; ++i) {
    std::wstring_view word(words[i]);
    args.push_back(ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(word.data()), word.size())));
  }
  LocalFree(words);
  return args;
}

}  // namespace torvo
