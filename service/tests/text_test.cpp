#include <gtest/gtest.h>

#include "service/wire/cp949.h"
#include "service/wire/url.h"

namespace torvo::service {
namespace {

TEST(Cp949, ConvertsBothWays) {
  struct Case {
    std::string utf8;
    std::string cp949;
  };
  const Case cases[] = {
      {"", ""},
      {"abc 1", "abc 1"},
      {"기본", "\xB1\xE2\xBA\xBB"},
      {"업무 a", "\xBE\xF7\xB9\xAB a"},
      {"\xEB\x98\xA0", "\x8C\x63"},  // an extended syllable whose trail byte is a letter
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToCp949(c.utf8), c.cp949) << c.utf8;
    EXPECT_EQ(Cp949ToUtf8(c.cp949), c.utf8) << c.utf8;
  }
}

TEST(Cp949, BadBytesBecomeReplacementCharacters) {
  const std::string kReplacement = "\xEF\xBF\xBD";
  EXPECT_EQ(Cp949ToUtf8("a\xB0"), "a" + kReplacement);                     // lone lead byte at the end
  EXPECT_EQ(Cp949ToUtf8("\xB0\x20z"), kReplacement + " z");                // lead byte before a space
  EXPECT_EQ(Cp949ToUtf8("\xFF\xFF"), kReplacement + kReplacement);
  EXPECT_EQ(Utf8ToCp949("\xE0\xB8\x81"), std::nullopt);                    // Thai is not in the code page
  EXPECT_EQ(Utf8ToCp949("\xC3"), std::nullopt);                            // not UTF-8
}

TEST(Url, PercentDecode) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"%61%20%62", "a b"},
      {"%C1%A6%b8%f1", "\xC1\xA6\xB8\xF1"},
      {"a+b", "a+b"},        // a plus is a plus
      {"100%", "100%"},      // a "%" without digits stays
      {"%4", "%4"},
      {"%zz%41", "%zzA"},
      {"%00x", std::string("\0x", 2)},
  };
  for (const auto& c : cases) EXPECT_EQ(PercentDecode(c.in), c.out) << c.in;
}

TEST(Url, PercentEncodeSegmentKeepsOnlyUnreserved) {
  EXPECT_EQ(PercentEncodeSegment("aZ0-._~"), "aZ0-._~");
  EXPECT_EQ(PercentEncodeSegment("a b/c%\xB1\xE2"), "a%20b%2Fc%25%B1%E2");
}

TEST(Url, SplitTarget) {
  struct Case {
    std::string target, path, query;
  };
  const Case cases[] = {
      {"/imgList.php?tid=u1", "/imgList.php", "tid=u1"},
      {"http://127.0.0.1/imgUpload.php?tid=u1&url=%61", "/imgUpload.php", "tid=u1&url=%61"},
      {"http://host:8765/img/u1/a.png", "/img/u1/a.png", ""},
      {"http://host", "/", ""},
      {"/a?b?c", "/a", "b?c"},
      {"/img/u1/http://x.png", "/img/u1/http://x.png", ""},
  };
  for (const auto& c : cases) {
    TargetParts parts = SplitTarget(c.target);
    EXPECT_EQ(parts.path, c.path) << c.target;
    EXPECT_EQ(parts.query, c.query) << c.target;
  }
}

TEST(Url, ParseQueryDecodesAndKeepsOrder) {
  QueryFields fields = ParseQuery("tid=u 1&title=%61%20b&&note=&flag&url=a=b&tid=second");
  QueryFields expected = {{"tid", "u 1"}, {"title", "a b"}, {"note", ""}, {"flag", ""}, {"url", "a=b"}, {"tid", "second"}};
  EXPECT_EQ(fields, expected);
  EXPECT_EQ(FindField(fields, "tid"), "u 1");
  EXPECT_EQ(FindField(fields, "public"), std::nullopt);
}

TEST(Url, APlusIsItselfForTheProgramsAndASpaceInBrowsersForms) {
  const std::string_view query = "q=a+b%2B&c+d=%2b+";
  EXPECT_EQ(ParseQuery(query), (QueryFields{{"q", "a+b+"}, {"c+d", "++"}}));
  EXPECT_EQ(ParseQuery(query, PlusMeans::kSpace), (QueryFields{{"q", "a b+"}, {"c d", "+ "}}));
}

TEST(Url, ParseInt32) {
  EXPECT_EQ(ParseInt32("0"), 0);
  EXPECT_EQ(ParseInt32("12"), 12);
  EXPECT_EQ(ParseInt32("-7"), -7);
  EXPECT_EQ(ParseInt32("+7"), 7);
  EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
  EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
  for (const char* bad : {"", "-", "+", "2147483648", "1x", " 1", "+-1", "--1", "1.0"}) {
    EXPECT_EQ(ParseInt32(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace torvo::service
