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

TEST(AfterProgramToken, WhatFollowsTheProgramAsTheRuntimeCutsIt) {
  struct Case {
    std::u16string commandLine;
    std::u16string rest;
  };
  const Case cases[] = {
      {u"TorvoTool.exe", u""},
      {u"TorvoTool.exe a;^;http://b/;^;제목;^;%41", u"a;^;http://b/;^;제목;^;%41"},
      {u"\"C:\\Program Files\\Torvo\\TorvoTool.exe\" a b", u"a b"},
      {u"\"C:\\a b\\TorvoTool.exe\"a", u"a"},               // nothing between the quote and the rest
      {u"\"C:\\unclosed quote a b", u""},                     // the token runs to the end
      {u"TorvoTool.exe \t  two  spaces  kept \"q\" ", u"two  spaces  kept \"q\" "},
      {u"C:\\Torvo\"x\"y.exe z", u"z"},                       // a quote inside the token is the token's
      {u"", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(AfterProgramToken(c.commandLine), c.rest);
}

}  // namespace
}  // namespace torvo
