#pragma once
// The system's own words for a Windows error number, as UTF-8.
#include <windows.h>

#include <string>

namespace torvo::win32 {

std::string SystemMessage(DWORD error);

// Why a file could not be made or written, in the words the Linux build's C library uses for the
// same fault ("Permission denied", "No space left on device", ...), so a message reads alike on
// both systems whatever language Windows speaks; the system's words for any other error.
std::string FileErrorText(DWORD error);

}  // namespace torvo::win32
