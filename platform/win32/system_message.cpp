#include "platform/win32/system_message.h"

#include "platform/codepage.h"

namespace torvo::win32 {

std::string SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string words;
  if (n && text) words.assign(reinterpret_cast<const char16_t*>(text), n);
  if (text) LocalFree(text);
  while (!words.empty() && (words.back() == u'\n' || words.back() == u'\r' || words.back() == u' ' || words.back() == u'.')) {
    words.pop_back();
  }
  if (words.empty()) return "Windows error " + std::to_string(error);
  return ToUtf8(words);
}

std::string FileErrorText(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "Permission denied";
    case ERROR_WRITE_PROTECT: return "Read-only file system";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "No space left on device";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "No such file or directory";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return "File exists";
    case ERROR_FILENAME_EXCED_RANGE: return "File name too long";
    case ERROR_INVALID_NAME: return "Invalid argument";
    default: return SystemMessage(error);
  }
}

}  // namespace torvo::win32
