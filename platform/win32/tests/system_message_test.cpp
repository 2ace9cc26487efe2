// A file fault reads as the Linux build says it, whatever language Windows speaks; other errors
// keep the system's words.
#include <gtest/gtest.h>

#include "platform/win32/system_message.h"

namespace torvo::win32 {
namespace {

TEST(FileErrorText, TheLinuxBuildsWordsForTheFileFaults) {
  struct Case {
    DWORD error;
    const char* text;
  };
  const Case cases[] = {
      {ERROR_ACCESS_DENIED, "Permission denied"},       {ERROR_SHARING_VIOLATION, "Permission denied"},
      {ERROR_WRITE_PROTECT, "Read-only file system"},   {ERROR_DISK_FULL, "No space left on device"},
      {ERROR_HANDLE_DISK_FULL, "No space left on device"}, {ERROR_PATH_NOT_FOUND, "No such file or directory"},
      {ERROR_FILE_EXISTS, "File exists"},               {ERROR_FILENAME_EXCED_RANGE, "File name too long"},
  };
  for (const Case& c : cases) EXPECT_EQ(FileErrorText(c.error), c.text) << c.error;
  // Another error: the system's own words, never empty, never a trailing full stop or line break.
  const std::string other = FileErrorText(ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(other, SystemMessage(ERROR_NOT_ENOUGH_MEMORY));
  ASSERT_FALSE(other.empty());
  EXPECT_NE(other.back(), '.');
  EXPECT_NE(other.back(), '\n');
}

}  // namespace
}  // namespace torvo::win32
