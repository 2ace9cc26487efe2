#include "platform/win32/single_instance.h"

#include <windows.h>

#include "platform/codepage.h"

namespace torvo::win32 {

SingleInstance::SingleInstance(const std::string& programName) {
  const std::u16string name = u"Local\\Torvo." + FromUtf8(programName);
  name_.assign(name.begin(), name.end());
}

SingleInstance::~SingleInstance() {
  if (mutex_) CloseHandle(mutex_);
}

bool SingleInstance::Acquire() {
  if (mutex_) return true;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name_.c_str());
  if (!mutex) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  mutex_ = mutex;
  return true;
}

}  // namespace torvo::win32
