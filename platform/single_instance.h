#pragma once
// One running copy of a program per user: each desktop implements the lock its own way.
#include <string>

namespace torvo {

// What a second copy of either program says before it ends.
inline constexpr char16_t kSecondCopyMessage[] = u"이 프로그램은 두번 실행될 수 없슴니다.";

class SingleInstanceLock {
 public:
  virtual ~SingleInstanceLock() = default;
  // True when no other copy runs; this copy then holds the lock until it ends.
  virtual bool Acquire() = 0;
};

}  // namespace torvo
