#pragma once
// The system's own words for a Windows error number, as UTF-8.
#include <windows.h>

#include <string>

namespace torvo::win32 {

std::string SystemMessage(DWORD error);

}  // namespace torvo::win32
