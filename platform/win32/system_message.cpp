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

}  // namespace torvo::win32
