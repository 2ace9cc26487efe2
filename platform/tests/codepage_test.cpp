#include "platform/codepage.h"

#include <gtest/gtest.h>

#include "platform/http.h"

namespace torvo {
namespace {

TEST(Cp949, EncodesAndDecodesKorean) {
  EXPECT_EQ(ToCp949(u"가"), "\xB0\xA1");
  EXPECT_EQ(ToCp949(u"a b"), "a b");
  EXPECT_EQ(FromCp949("\xB0\xA1"), u"가");
  // An extended syllable whose trail byte is a letter.
  std::u16string extended = FromCp949("\xB0\x41");
  ASSERT_EQ(extended.size(), 1u);
  EXPECT_NE(extended[0], u'\uFFFD');
  EXPECT_EQ(ToCp949(extended), "\xB0\x41");
}

TEST(Cp949, MissingCharactersAndBadBytes) {
  EXPECT_EQ(ToCp949(u"\u0e01x"), "?x");       // Thai is not in the code page
  EXPECT_EQ(FromCp949("a\xB0"), u"a\uFFFD");  // a lone lead byte at the end
  EXPECT_EQ(FromCp949("\xFF\xFF"), u"\uFFFD\uFFFD");
  EXPECT_FALSE(CharToCp949(u'\u0e01').has_value());
  EXPECT_EQ(CharToCp949(u'％').value(), "\xA3\xA5");
  // One "?" per character: a character beyond 16 bits, and each half of a broken one.
  EXPECT_EQ(ToCp949(u"\U0001F600\U00020000a"), "??a");
  EXPECT_EQ(ToCp949(std::u16string(1, u'\xDE00') + std::u16string(1, u'\xD83D')), "??");
}

TEST(Cp949, PercentEncodingOfEveryByte) {
  struct Case {
    std::u16string in;
    std::string out;
  };
  const Case cases[] = {
      {u"", ""},
      {u"a b", "%61%20%62"},
      {u"가\r\n", "%B0%A1%0D%0A"},
      {u"%", "%25"},
      {u"\u0e01\U0001F600", "%3F%3F"},  // two characters the code page lacks
      {std::u16string(1, u'\0'), "%00"},
  };
  for (const auto& c : cases) EXPECT_EQ(PercentEncodeCp949(c.in), c.out) << ToUtf8(c.in);
}

TEST(Cp949, RoundTripsEveryMappedCharacter) {
  int mapped = 0;
  for (uint32_t c = 1; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    auto bytes = CharToCp949(static_cast<char16_t>(c));
    if (!bytes) continue;
    ++mapped;
    std::u16string back = FromCp949(*bytes);
    ASSERT_EQ(back.size(), 1u) << c;
  }
  EXPECT_GT(mapped, 17000);  // ASCII, the 11,172 syllables, hanja and symbols
}

TEST(Utf8, RoundTrip) {
  std::u16string text = u"가나다 abc \U0001F600";
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(ToUtf8(u"가"), "\xEA\xB0\x80");
  EXPECT_EQ(FromUtf8("\xEA\xB0"), u"\uFFFD");
}

TEST(RequestTarget, EscapesOnlySpaceControlAndNonAscii) {
  struct Case { std::string in, out; };
  for (const auto& [in, out] : {Case{"user1", "user1"}, {"u 1", "u%201"}, {"a\tb\x7F", "a%09b%7F"},
                                {"\xB0\xA1", "%B0%A1"}, {"a%20b?c=d&e#f", "a%20b?c=d&e#f"}, {"", ""}}) {
    EXPECT_EQ(EscapeRequestTarget(in), out) << in;
  }
}

}  // namespace
}  // namespace torvo
