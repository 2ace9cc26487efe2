#include "platform/desktop/single_instance.h"

#include <unistd.h>

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QString>

namespace torvo::desktop {

SingleInstance::SingleInstance(const std::string& programName) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  path_ = (folder + "/" + QString::fromStdString(programName) + "-" + QString::number(getuid()) + ".lock")
              .toStdString();
  lock_ = std::make_unique<QLockFile>(QString::fromStdString(path_));
  // A lock whose owner process is gone is taken over at once, however young it is.
  lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::Acquire() { return lock_->tryLock(0); }

std::string SingleInstance::LockPath() const { return path_; }

}  // namespace torvo::desktop
