#pragma once
// One running copy of a program per user session on Windows: a named mutex, which the system
// lets go of when the copy ends however it ends.
#include <string>

#include "platform/single_instance.h"

namespace torvo::win32 {

class SingleInstance final : public SingleInstanceLock {
 public:
  explicit SingleInstance(const std::string& programName);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;
  // True when no other copy runs; this copy then holds the mutex until it ends.
  bool Acquire() override;

 private:
  std::wstring name_;
  void* mutex_ = nullptr;
};

}  // namespace torvo::win32
