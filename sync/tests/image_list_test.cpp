#include "sync/image_list.h"

#include <gtest/gtest.h>

namespace torvo::sync {
namespace {

TEST(ListAddress, CommandLineBecomesAValidRequestTarget) {
  struct Case {
    std::u16string commandLine;
    std::string expected;
  } cases[] = {
      {u"u 1", "http://127.0.0.1:8765/imgList.php?tid=u%201"},
      {u"abc", "http://127.0.0.1:8765/imgList.php?tid=abc"},
      // Hangul goes out as its code page 949 bytes: 가 = B0 A1.
      {u"가", "http://127.0.0.1:8765/imgList.php?tid=%B0%A1"},
      {u"a&b=c", "http://127.0.0.1:8765/imgList.php?tid=a&b=c"},
  };
  for (const Case& c : cases) EXPECT_EQ(ListAddress("127.0.0.1:8765", c.commandLine), c.expected);
}

TEST(ParseImageList, Grammar) {
  struct Case {
    std::string reply;
    bool signedOut;
    std::u16string base;
    std::vector<std::u16string> names;
  } cases[] = {
      {"0", true, u"", {}},
      {"B|a|b", false, u"B", {u"a", u"b"}},
      {"B|", false, u"B", {u""}},
      {"B||x|", false, u"B", {u"", u"x", u""}},
      {"", false, u"", {}},
      {"00", false, u"00", {}},
      {"0|a", false, u"0", {u"a"}},
      {"<html>error</html>", false, u"<html>error</html>", {}},
      // Names are code page 949: B0 41 is an extended syllable, B0 A1 is 가.
      {"http://h/i|\xB0\x41|\xB0\xA1", false, u"http://h/i", {u"\uCE9A", u"\uAC00"}},
      // An undecodable byte stays visible as U+FFFD, so the name check can refuse it; a lone lead
      // byte before "|" does not swallow the separator.
      {"B|a\xFF|\xB0|c", false, u"B", {u"a\uFFFD", u"\uFFFD", u"c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    ImageList list = ParseImageList(c.reply);
    EXPECT_EQ(list.signedOut, c.signedOut);
    EXPECT_EQ(list.baseAddress, c.base);
    EXPECT_EQ(list.names, c.names);
  }
}

TEST(DownloadAddress, NameIsOneFileOfTheBase) {
  struct Case {
    std::u16string base, name;
    std::string expected;
  } cases[] = {
      {u"http://h/img/u1", u"20261208123456", "http://h/img/u1/20261208123456.png"},
      {u"http://h/img", u"", "http://h/img/.png"},
      {u"http://h/img", u"a b", "http://h/img/a%20b.png"},
      {u"http://h/img", u"가", "http://h/img/%B0%A1.png"},
      // These would otherwise cut the name short as a query or a fragment, or be decoded twice.
      {u"http://h/img", u"a?b#c%20", "http://h/img/a%3Fb%23c%2520.png"},
      // The base is used as it stands, only made a valid target.
      {u"http://h/x?y=1 2", u"n", "http://h/x?y=1%202/n.png"},
  };
  for (const Case& c : cases) EXPECT_EQ(DownloadAddress(c.base, c.name), c.expected);
}

TEST(IsUsableBaseAddress, OnlyHttpAddresses) {
  EXPECT_TRUE(IsUsableBaseAddress(u"http://h"));
  EXPECT_TRUE(IsUsableBaseAddress(u"https://h/img"));
  EXPECT_FALSE(IsUsableBaseAddress(u"http://"));
  EXPECT_FALSE(IsUsableBaseAddress(u"file:///etc"));
  EXPECT_FALSE(IsUsableBaseAddress(u"<html>"));
  EXPECT_FALSE(IsUsableBaseAddress(u""));
  EXPECT_FALSE(IsUsableBaseAddress(u"http://h/\uFFFD"));
}

}  // namespace
}  // namespace torvo::sync
