#include "platform/desktop/single_instance.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <fstream>

namespace torvo::desktop {
namespace {

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_RUNTIME_DIR", dir_.path().toUtf8().constData(), 1); }
  QTemporaryDir dir_;
};

TEST_F(SingleInstanceTest, SecondCopyIsRefusedUntilTheFirstEnds) {
  auto first = std::make_unique<SingleInstance>("TorvoLockTest");
  ASSERT_TRUE(first->Acquire());
  {
    SingleInstance second("TorvoLockTest");
    EXPECT_FALSE(second.Acquire());
  }
  SingleInstance other("TorvoOtherProgram");
  EXPECT_TRUE(other.Acquire());
  first.reset();
  SingleInstance third("TorvoLockTest");
  EXPECT_TRUE(third.Acquire());
}

TEST_F(SingleInstanceTest, LockOfAKilledCopyIsTakenOver) {
  std::string path = SingleInstance("TorvoKilled").LockPath();
  pid_t child = fork();
  if (child == 0) {
    SingleInstance held("TorvoKilled");
    if (!held.Acquire()) _exit(3);
    _exit(0);  // ends without releasing: the lock file stays behind
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_TRUE(std::ifstream(path).good()) << "the dead copy's lock file should still be there";
  SingleInstance next("TorvoKilled");
  EXPECT_TRUE(next.Acquire());
}

}  // namespace
}  // namespace torvo::desktop
