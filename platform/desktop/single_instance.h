#pragma once
// The previous-instance test: one running copy of a program per user. The lock lives in the
// user's runtime folder; a copy that crashed or was killed does not leave it stuck.
#include <memory>
#include <string>

#include "platform/single_instance.h"

class QLockFile;

namespace torvo::desktop {

class SingleInstance final : public SingleInstanceLock {
 public:
  explicit SingleInstance(const std::string& programName);
  ~SingleInstance() override;
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  bool Acquire() override;
  // Where the lock file lives (for tests and messages).
  std::string LockPath() const;

 private:
  std::unique_ptr<QLockFile> lock_;
  std::string path_;
};

}  // namespace torvo::desktop
