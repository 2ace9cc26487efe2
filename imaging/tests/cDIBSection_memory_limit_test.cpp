// The address-space cap is a POSIX resource limit: this test belongs to the Linux build.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "imaging/cDIBSection.h"

namespace torvo {
namespace {

// In a child whose address space is capped, a picture of 1.2 GB cannot be had: Create must say
// so, not throw or abort.
void CreateBeyondTheAddressSpace() {
  rlimit limit{};
  limit.rlim_cur = limit.rlim_max = 512u << 20;
  setrlimit(RLIMIT_AS, &limit);
  cDIBSection s;
  bool created = s.Create(20000, 20000);
  bool empty = !s.hdc() && !s.DIBSectionBitsPtr() && s.Width() == 20000;
  std::exit(!created && empty ? 0 : 1);
}

TEST(cDIBSectionDeathTest, MemoryThatCannotBeHadReturnsFalse) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the cap leaves";
#endif
  EXPECT_EXIT(CreateBeyondTheAddressSpace(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace torvo
