#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace torvo {
namespace {

TEST(JoinArguments, TheArgumentsAfterTheProgramWithSingleSpaces) {
  struct Case {
    std::vector<const char*> argv;
    std::string line;
  };
  const Case cases[] = {
      {{"TorvoTool"}, ""},
      {{"TorvoTool", "alice;^;http://a/;^;T;^;%41"}, "alice;^;http://a/;^;T;^;%41"},
      {{"TorvoSync", "u", "1"}, "u 1"},
      {{"TorvoSync", "", "a", ""}, " a "},  // empty arguments keep their spaces
      {{"TorvoSync", "two  spaces", "한글"}, "two  spaces 한글"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JoinArguments(static_cast<int>(c.argv.size()), c.argv.data()), c.line) << c.line;
  }
}

}  // namespace
}  // namespace torvo
